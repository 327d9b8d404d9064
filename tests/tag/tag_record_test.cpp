// Decoding and encoding the 128-byte trailer.
#include <gtest/gtest.h>
#include <string.h>

#include <string>

#include "tag/tag_record.h"

namespace {

TagBlock BlockFrom(const std::string& bytes)
{
    TagBlock block;
    EXPECT_EQ(bytes.size(), sizeof block.bytes);
    memcpy(block.bytes, bytes.data(), sizeof block.bytes);
    return block;
}

std::string BytesOf(const TagBlock& block)
{
    return std::string(reinterpret_cast<const char*>(block.bytes), sizeof block.bytes);
}

TagRecord Decode(const std::string& bytes)
{
    TagBlock block = BlockFrom(bytes);
    TagRecord record;
    ClearTagRecord(&record);
    DecodeTagBlock(&block, &record);
    return record;
}

std::string Encode(const TagRecord& record)
{
    TagBlock block;
    memset(block.bytes, 0xAA, sizeof block.bytes);
    EncodeTagBlock(&record, &block);
    return BytesOf(block);
}

// A block laid out field by field, as a reader of the format would.
std::string Block(const std::string& title, const std::string& artist, const std::string& album,
                  const std::string& year, const std::string& comment30, int track, int genre)
{
    auto field = [](std::string s, size_t width) {
        s.resize(width, '\0');
        return s;
    };
    std::string b = "TAG" + field(title, 30) + field(artist, 30) + field(album, 30) +
                    field(year, 4) + field(comment30, 30) + std::string(1, char(genre));
    if (track >= 0) {
        b[125] = 0;
        b[126] = char(track);
    }
    return b;
}

}  // namespace

TEST(TagRecord, FullWidthFieldsSurviveDecodeAndEncode)
{
    const std::string block = Block(std::string(30, 'T'), std::string(30, 'A'),
                                    std::string(30, 'L'), "2024", std::string(28, 'C'), 9, 17);
    TagRecord record = Decode(block);
    EXPECT_EQ(std::string(record.title), std::string(30, 'T'));
    EXPECT_EQ(std::string(record.artist), std::string(30, 'A'));
    EXPECT_EQ(std::string(record.album), std::string(30, 'L'));
    EXPECT_STREQ(record.year, "2024");
    EXPECT_EQ(std::string(record.comment), std::string(28, 'C'));
    EXPECT_EQ(Encode(record), block);
}

TEST(TagRecord, TextIsKeptByteForByte)
{
    // Trailing spaces, mixed case, 8-bit characters and a year that is not a
    // number come back exactly as they went in.
    const std::string block =
        Block("Title  ", "\xC9mile \xE9t\xE9", "ALBUM album", "19x9", "note ", 1, 255);
    TagRecord record = Decode(block);
    EXPECT_STREQ(record.title, "Title  ");
    EXPECT_STREQ(record.artist, "\xC9mile \xE9t\xE9");
    EXPECT_STREQ(record.year, "19x9");
    EXPECT_STREQ(record.comment, "note ");
    EXPECT_EQ(Encode(record), block);
}

TEST(TagRecord, EmbeddedNulKeepsTheBytesAfterIt)
{
    std::string title("Before\0After", 12);
    TagRecord record = Decode(Block(title, "", "", "", "", 0, 0));
    EXPECT_STREQ(record.title, "Before");
    EXPECT_EQ(std::string(record.title, 12), title);
    EXPECT_EQ(Encode(record).substr(3, 12), title);
}

TEST(TagRecord, NumbersDecodeAsUnsignedBytes)
{
    TagRecord record = Decode(Block("", "", "", "", "", 200, 255));
    EXPECT_EQ(record.track, 200);
    EXPECT_EQ(record.genre, 255);
    EXPECT_EQ(Decode(Block("", "", "", "", "", 0, 141)).genre, 141);
}

TEST(TagRecord, Id3v10CommentIsKeptWholeAndWrittenBackUnchanged)
{
    // A 1.0 tag's comment runs over 30 bytes, so byte 125 is text, not zero.
    const std::string full = Block("", "", "", "", "abcdefghijklmnopqrstuvwxyz1234", -1, 12);
    TagRecord record = Decode(full);
    EXPECT_EQ(std::string(record.comment), "abcdefghijklmnopqrstuvwxyz1234");
    EXPECT_EQ(record.track, 0);
    EXPECT_EQ(Encode(record), full);

    const std::string padded =
        Block("", "", "", "", std::string("spaced") + std::string(24, ' '), -1, 12);
    record = Decode(padded);
    EXPECT_EQ(std::string(record.comment), std::string("spaced") + std::string(24, ' '));
    EXPECT_EQ(record.track, 0);
    EXPECT_EQ(Encode(record), padded);

    // 29 characters: byte 125 is text and 126 the comment's NUL.
    const std::string nine = Block("", "", "", "", std::string(29, 'n'), -1, 0);
    record = Decode(nine);
    EXPECT_EQ(std::string(record.comment), std::string(29, 'n'));
    EXPECT_EQ(Encode(record), nine);
}

TEST(TagRecord, CommentOfUpTo28CharactersIsWrittenWithTheTrackLayout)
{
    TagRecord record = Decode(Block("", "", "", "", std::string(28, 'c'), 0, 1));
    EXPECT_TRUE(TagRecordFits(&record));
    EXPECT_EQ(Encode(record), Block("", "", "", "", std::string(28, 'c'), 0, 1));

    // A 1.0 tag whose comment ends early is written back as 1.1 with no track.
    record =
        Decode(Block("", "", "", "", std::string("short\0\0\0", 8) + std::string(22, 'x'), -1, 1));
    EXPECT_STREQ(record.comment, "short");
    EXPECT_EQ(Encode(record).substr(125, 2), std::string(2, '\0'));
}

TEST(TagRecord, LongCommentLeavesNoRoomForATrack)
{
    TagRecord record;
    ClearTagRecord(&record);
    memset(record.comment, 'c', 29);
    EXPECT_TRUE(TagRecordFits(&record));
    record.track = 3;
    EXPECT_FALSE(TagRecordFits(&record));
    // Encoded anyway, the track wins and the comment keeps 28 bytes.
    EXPECT_EQ(Encode(record), Block("", "", "", "", std::string(28, 'c'), 3, 0));
}

TEST(TagRecord, EncodeNulPadsFieldsAndKeepsLowBitsOfNumbers)
{
    TagRecord record;
    ClearTagRecord(&record);
    strcpy(record.title, "Hi");
    strcpy(record.year, "99");
    record.track = 300;
    record.genre = 255;
    const std::string block = Encode(record);
    EXPECT_EQ(block, Block("Hi", "", "", "99", "", 44, 255));
}
