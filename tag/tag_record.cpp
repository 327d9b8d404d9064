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

// The comment's length up to its first NUL: what decides the layout.
static size_t CommentLength(const TagRecord* record)
{
    const void* nul = memchr(record->comment, 0, TAG_LONG_COMMENT_SIZE);
    return nul ? (size_t)((const char*)nul - record->comment) : (size_t)TAG_LONG_COMMENT_SIZE;
}

int HasLongComment(const TagRecord* record)
{
    return CommentLength(record) > TAG_COMMENT_SIZE;
}

int TagRecordFits(const TagRecord* record)
{
    return record->track == 0 || !HasLongComment(record);
}

// Decode and encode are mirror images: one line a field, in block order. The
// record's fields are one byte wider than the block's, so each copy takes the
// width of the block's field.
void DecodeTagBlock(const TagBlock* block, TagRecord* record)
{
    const unsigned char* b = block->bytes;
    // Only a zero at 125 says that 126 holds a track (ID3v1.1). Otherwise the
    // tag is ID3v1.0, and 125 and 126 are the last two bytes of its comment.
    const int hasTrack = b[TAG_OFFSET_ZERO] == 0;
    memcpy(record->title, b + TAG_OFFSET_TITLE, sizeof record->title - 1);
    memcpy(record->artist, b + TAG_OFFSET_ARTIST, sizeof record->artist - 1);
    memcpy(record->album, b + TAG_OFFSET_ALBUM, sizeof record->album - 1);
    memcpy(record->year, b + TAG_OFFSET_YEAR, sizeof record->year - 1);
    memcpy(record->comment, b + TAG_OFFSET_COMMENT,
           hasTrack ? TAG_COMMENT_SIZE : TAG_LONG_COMMENT_SIZE);
    record->track = hasTrack ? b[TAG_OFFSET_TRACK] : 0;
    record->genre = b[TAG_OFFSET_GENRE];
}

void EncodeTagBlock(const TagRecord* record, TagBlock* block)
{
    unsigned char* b = block->bytes;
    // A comment too long to leave room for a track goes back in the ID3v1.0
    // layout, so a tag read from such a file is written with every byte.
    const int hasTrack = record->track != 0 || !HasLongComment(record);
    memset(b, 0, sizeof block->bytes);
    memcpy(b, kTagMagic, sizeof kTagMagic);
    memcpy(b + TAG_OFFSET_TITLE, record->title, sizeof record->title - 1);
    memcpy(b + TAG_OFFSET_ARTIST, record->artist, sizeof record->artist - 1);
    memcpy(b + TAG_OFFSET_ALBUM, record->album, sizeof record->album - 1);
    memcpy(b + TAG_OFFSET_YEAR, record->year, sizeof record->year - 1);
    memcpy(b + TAG_OFFSET_COMMENT, record->comment,
           hasTrack ? TAG_COMMENT_SIZE : TAG_LONG_COMMENT_SIZE);
    if (hasTrack) b[TAG_OFFSET_TRACK] = (unsigned char)(record->track & 0xFF);
    b[TAG_OFFSET_GENRE] = (unsigned char)(record->genre & 0xFF);
}
