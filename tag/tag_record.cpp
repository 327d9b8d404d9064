// Conversions between the 128-byte trailer and the tag record.
#include "tag/tag_record.h"

#include <string.h>

static const char kTagMagic[TAG_MAGIC_SIZE] = {'T', 'A', 'G'};

void ClearTagRecord(TagRecord* record)
{
    memset(record, 0, sizeof *record);
}

int HasTagMagic(const unsigned char* bytes)
{
    return memcmp(bytes, kTagMagic, sizeof kTagMagic) == 0;
}

// Decode and encode are mirror images: one line a field, in block order. The
// record's fields are one byte wider than the block's, so each copy takes the
// width of the block's field.
void DecodeTagBlock(const TagBlock* block, TagRecord* record)
{
    const unsigned char* b = block->bytes;
    memcpy(record->title, b + TAG_OFFSET_TITLE, sizeof record->title - 1);
    memcpy(record->artist, b + TAG_OFFSET_ARTIST, sizeof record->artist - 1);
    memcpy(record->album, b + TAG_OFFSET_ALBUM, sizeof record->album - 1);
    memcpy(record->year, b + TAG_OFFSET_YEAR, sizeof record->year - 1);
    memcpy(record->comment, b + TAG_OFFSET_COMMENT, sizeof record->comment - 1);
    // An ID3v1.0 tag has a 30-byte comment running over bytes 125 and 126.
    // Only a zero at 125 says that 126 holds a track; otherwise 126 is comment
    // text and the tag carries no track.
    record->track = b[TAG_OFFSET_ZERO] == 0 ? b[TAG_OFFSET_TRACK] : 0;
    record->genre = b[TAG_OFFSET_GENRE];
}

void EncodeTagBlock(const TagRecord* record, TagBlock* block)
{
    unsigned char* b = block->bytes;
    memset(b, 0, sizeof block->bytes);
    memcpy(b, kTagMagic, sizeof kTagMagic);
    memcpy(b + TAG_OFFSET_TITLE, record->title, sizeof record->title - 1);
    memcpy(b + TAG_OFFSET_ARTIST, record->artist, sizeof record->artist - 1);
    memcpy(b + TAG_OFFSET_ALBUM, record->album, sizeof record->album - 1);
    memcpy(b + TAG_OFFSET_YEAR, record->year, sizeof record->year - 1);
    memcpy(b + TAG_OFFSET_COMMENT, record->comment, sizeof record->comment - 1);
    b[TAG_OFFSET_TRACK] = (unsigned char)(record->track & 0xFF);
    b[TAG_OFFSET_GENRE] = (unsigned char)(record->genre & 0xFF);
}
