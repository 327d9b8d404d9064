// The genre table and the code/position mapping of the genre box.
#include <gtest/gtest.h>
#include <string.h>

#include <string>

#include "tag/genre.h"

TEST(GenreList, NamesMatchThePublishedTableByteForByte)
{
    // FNV-1a of the 142 names joined with '\n', taken from the published
    // table (spellings such as "Psychadelic" and "Rhytmic Soul" included).
    std::string joined;
    for (int code = 0; code < GENRE_COUNT; ++code) {
        if (code) joined += '\n';
        joined += GenreList[code];
    }
    uint32_t hash = 0x811c9dc5u;
    for (char c : joined)
        hash = (hash ^ (unsigned char)c) * 0x01000193u;
    EXPECT_EQ(joined.size(), 1286u);
    EXPECT_EQ(hash, 0x40b508f2u);

    EXPECT_STREQ(GenreList[0], "Blues");
    EXPECT_STREQ(GenreList[53], "Pop-Folk");
    EXPECT_STREQ(GenreList[63], "Jungle");
    EXPECT_STREQ(GenreList[141], "Christian Rock");
}

TEST(GenreList, NamedCodesShowOnePastTheBlankEntry)
{
    EXPECT_EQ(GenrePositionOfCode(GENRE_NONE), 0);
    EXPECT_EQ(GenrePositionOfCode(0), 1);
    EXPECT_EQ(GenrePositionOfCode(63), 64);
    EXPECT_EQ(GenrePositionOfCode(141), 142);
    for (uint16_t code = 142; code < GENRE_NONE; ++code)
        EXPECT_EQ(GenrePositionOfCode(code), GENRE_NO_POSITION) << code;
    EXPECT_EQ(GenrePositionOfCode(256), GENRE_NO_POSITION);
}

TEST(GenreList, BlankEntryAndNoSelectionSaveAsNoGenre)
{
    EXPECT_EQ(GenreCodeAtPosition(GENRE_NO_POSITION), GENRE_NONE);
    EXPECT_EQ(GenreCodeAtPosition(0), GENRE_NONE);
    EXPECT_EQ(GenreCodeAtPosition(143), GENRE_NONE);
    for (int position = 1; position < GENRE_BOX_ENTRIES; ++position)
        EXPECT_EQ(GenrePositionOfCode(GenreCodeAtPosition(position)), position);
}
