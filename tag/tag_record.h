// The in-memory tag record and the 128-byte ID3v1.1 trailer it is stored as.
#pragma once

#include <stdint.h>

// The trailer, always the last 128 bytes of the file:
//
//   OFFSET  SIZE  FIELD
//        0     3  magic "TAG" (0x54 0x41 0x47), compared exactly
//        3    30  title
//       33    30  artist
//       63    30  album
//       93     4  year (text, not a number)
//       97    28  comment
//      125     1  zero: a track number follows (ID3v1.1)
//      126     1  track, 0 = none
//      127     1  genre code, 255 = none
//
// The older ID3v1.0 layout has no track: its comment runs over 30 bytes,
// 97-126, so byte 125 is text. A non-zero byte 125 marks that layout; a
// record keeps such a comment whole and is written back in the same layout
// (see EncodeTagBlock).
//
// Text fields are 8-bit bytes in the ANSI code page, taken and given byte for
// byte: no trimming, no re-casing, no conversion. A field on disk need not
// hold a NUL; when we write one, every byte after its text is NUL.
enum {
    TAG_BLOCK_SIZE = 128,
    TAG_MAGIC_SIZE = 3,
    TAG_OFFSET_TITLE = 3,
    TAG_OFFSET_ARTIST = 33,
    TAG_OFFSET_ALBUM = 63,
    TAG_OFFSET_YEAR = 93,
    TAG_OFFSET_COMMENT = 97,
    TAG_OFFSET_ZERO = 125,
    TAG_OFFSET_TRACK = 126,
    TAG_OFFSET_GENRE = 127,
    TAG_COMMENT_SIZE = 28,       // beside a track number
    TAG_LONG_COMMENT_SIZE = 30,  // without one
};

struct TagBlock {
    unsigned char bytes[TAG_BLOCK_SIZE];
};

// Each text field has one byte more than its field on disk, so a text that
// fills the whole field keeps its terminating NUL.
struct TagRecord {
    char title[31];
    char artist[31];
    char album[31];
    char year[5];
    char comment[31];  // up to 28 bytes beside a track, 30 without one
    uint16_t track;
    uint16_t genre;
};

// Zero-fills the whole record, the state every record starts from.
void ClearTagRecord(TagRecord* record);

// 1 when the block begins with the magic "TAG", else 0.
int HasTagMagic(const unsigned char* bytes);

// Decodes a block whose magic the caller has checked into a zero-filled record.
void DecodeTagBlock(const TagBlock* block, TagRecord* record);

// 1 when the comment is longer than 28 bytes, as only an ID3v1.0 tag's can
// be; else 0.
int HasLongComment(const TagRecord* record);

// 1 when the record fits one block whole: a comment longer than 28 bytes
// leaves no room for a track, so it needs track 0. Else 0.
int TagRecordFits(const TagRecord* record);

// Fills the block from the record, ready to be written. A record with track 0
// and a comment longer than 28 bytes is written in the ID3v1.0 layout, the
// comment in bytes 97-126; every other record in the ID3v1.1 layout. A record
// that does not fit keeps its track and the comment's first 28 bytes.
void EncodeTagBlock(const TagRecord* record, TagBlock* block);
