// Reading, writing and removing the tag on real files through the platform's
// file primitives (POSIX natively, kernel32 under Wine).
#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>

#include <fstream>
#include <string>

#include "tag/tag_file.h"
#include "temp_file.h"

namespace {

const std::string kAudio(1000, '\x55');

TagRecord NewRecord(const char* title, uint16_t track = 3, uint16_t genre = 17)
{
    TagRecord record;
    ClearTagRecord(&record);
    strcpy(record.title, title);
    strcpy(record.artist, "Artist");
    strcpy(record.year, "2001");
    record.track = track;
    record.genre = genre;
    return record;
}

}  // namespace

TEST(TagFile, UntaggedFileGetsATagAppendedAndRemovedByteForByte)
{
    TempFile file(kAudio);
    TagRecord record;
    memset(&record, 0x7F, sizeof record);
    EXPECT_EQ(ReadTag(file.handle(), &record), NoTag);
    EXPECT_TRUE(IsZeroFilled(record));

    const TagRecord written = NewRecord("New");
    EXPECT_EQ(WriteTag(file.handle(), &written), 1);
    EXPECT_EQ(file.Contents(), kAudio + Encoded(written));

    EXPECT_EQ(ReadTag(file.handle(), &record), TagFound);
    EXPECT_EQ(memcmp(&record, &written, sizeof record), 0);

    EXPECT_EQ(RemoveTag(file.handle()), 1);
    EXPECT_EQ(file.Contents(), kAudio);
}

TEST(TagFile, TaggedFileIsOverwrittenInPlace)
{
    TempFile file(kAudio + MakeBlock());
    TagRecord record;
    EXPECT_EQ(ReadTag(file.handle(), &record), TagFound);
    EXPECT_STREQ(record.title, "Old title");
    EXPECT_EQ(record.track, 7);
    EXPECT_EQ(record.genre, 17);

    const TagRecord first = NewRecord("First");
    const TagRecord second = NewRecord("Second");
    EXPECT_EQ(WriteTag(file.handle(), &first), 1);
    EXPECT_EQ(WriteTag(file.handle(), &second), 1);
    EXPECT_EQ(file.Contents(), kAudio + Encoded(second));
}

TEST(TagFile, RemoveOnUntaggedFileLeavesItUnchanged)
{
    TempFile file(kAudio);
    EXPECT_EQ(RemoveTag(file.handle()), 1);
    EXPECT_EQ(file.Contents(), kAudio);
}

TEST(TagFile, MagicIsCaseSensitiveButNeedNotBeARealTag)
{
    // Besides the lowercase magic, one near miss for each byte: a check that
    // skips any one of the three takes its near miss for a tag.
    const TagRecord record = NewRecord("New");
    for (const char* magic : {"tag", "TAx", "TxG", "xAG"}) {
        TempFile nearMiss(kAudio + MakeBlock(magic));
        TagRecord read;
        EXPECT_EQ(ReadTag(nearMiss.handle(), &read), NoTag) << magic;
        EXPECT_EQ(WriteTag(nearMiss.handle(), &record), 1) << magic;
        EXPECT_EQ(nearMiss.Contents(), kAudio + MakeBlock(magic) + Encoded(record)) << magic;
    }

    // Audio that happens to read "TAG" 128 bytes before the end is taken for
    // a tag: that is what every ID3v1 reader sees there.
    const std::string chance = "TAG" + std::string(125, '\x01');
    TempFile byChance(kAudio + chance);
    EXPECT_EQ(WriteTag(byChance.handle(), &record), 1);
    EXPECT_EQ(byChance.Contents(), kAudio + Encoded(record));
    EXPECT_EQ(RemoveTag(byChance.handle()), 1);
    EXPECT_EQ(byChance.Contents(), kAudio);
}

TEST(TagFile, FileThatIsOnlyATagBecomesEmpty)
{
    TempFile file(MakeBlock());
    TagRecord record;
    EXPECT_EQ(ReadTag(file.handle(), &record), TagFound);
    EXPECT_EQ(RemoveTag(file.handle()), 1);
    EXPECT_EQ(file.Size(), 0u);
}

TEST(TagFile, TwoTrailingBlocksAreHandledOneAtATime)
{
    const std::string inner = MakeBlock("TAG", "Inner");
    TempFile file(kAudio + inner + MakeBlock("TAG", "Outer"));
    TagRecord record;
    EXPECT_EQ(ReadTag(file.handle(), &record), TagFound);
    EXPECT_STREQ(record.title, "Outer");

    const TagRecord written = NewRecord("New");
    EXPECT_EQ(WriteTag(file.handle(), &written), 1);
    EXPECT_EQ(file.Contents(), kAudio + inner + Encoded(written));

    EXPECT_EQ(RemoveTag(file.handle()), 1);
    EXPECT_EQ(file.Contents(), kAudio + inner);
    EXPECT_EQ(RemoveTag(file.handle()), 1);
    EXPECT_EQ(file.Contents(), kAudio);
}

TEST(TagFile, OutcomeDoesNotDependOnTheStartingPosition)
{
    const TagRecord record = NewRecord("New");
    for (uint64_t start : {0u, 500u, 1128u, 5000u}) {
        TempFile file(kAudio + MakeBlock());
        TagRecord read;
        file.SetPosition(start);
        EXPECT_EQ(ReadTag(file.handle(), &read), TagFound) << start;
        file.SetPosition(start);
        EXPECT_EQ(WriteTag(file.handle(), &record), 1) << start;
        EXPECT_EQ(file.Contents(), kAudio + Encoded(record)) << start;
        file.SetPosition(start);
        EXPECT_EQ(RemoveTag(file.handle()), 1) << start;
        EXPECT_EQ(file.Contents(), kAudio) << start;
    }
}

TEST(TagFile, FilesShorterThanABlockHaveNoTag)
{
    const TagRecord record = NewRecord("New");
    for (const std::string& content : {std::string(), std::string("TAG"),
                                       "TAG" + std::string(97, 'x'), MakeBlock().substr(0, 127)}) {
        TempFile file(content);
        TagRecord read;
        EXPECT_EQ(ReadTag(file.handle(), &read), NoTag) << content.size();
        EXPECT_TRUE(IsZeroFilled(read));
        EXPECT_EQ(RemoveTag(file.handle()), 1);
        EXPECT_EQ(file.Contents(), content);
        EXPECT_EQ(WriteTag(file.handle(), &record), 1);
        EXPECT_EQ(file.Contents(), content + Encoded(record));
    }
}

TEST(TagFile, FilesOf4GiBAndMoreUseTheirRealLastBlock)
{
    // Sparse, so it takes no disk space. A 32-bit move would land near the
    // start and overwrite the head instead.
    const uint64_t size = (uint64_t(1) << 32) + 1000;
    const std::string head = "ID3 head bytes that must stay";
    TempFile file(size, head, MakeBlock());

    TagRecord record;
    EXPECT_EQ(ReadTag(file.handle(), &record), TagFound);
    EXPECT_STREQ(record.title, "Old title");

    const TagRecord written = NewRecord("Large");
    EXPECT_EQ(WriteTag(file.handle(), &written), 1);
    EXPECT_EQ(file.Size(), size);
    EXPECT_EQ(file.Read(size - 128, 128), Encoded(written));
    EXPECT_EQ(file.Read(0, (uint32_t)head.size()), head);

    EXPECT_EQ(RemoveTag(file.handle()), 1);
    EXPECT_EQ(file.Size(), size - 128);
    EXPECT_EQ(WriteTag(file.handle(), &written), 1);
    EXPECT_EQ(file.Size(), size);
    EXPECT_EQ(file.Read(size - 128, 128), Encoded(written));
    EXPECT_EQ(file.Read(0, (uint32_t)head.size()), head);
}

TEST(TagFile, ReadOnlyHandleReadsButNeverReportsAFailedChangeAsDone)
{
    const std::string tagged = kAudio + MakeBlock();
    TempFile file(tagged, Access::ReadOnly);
    TagRecord record;
    EXPECT_EQ(ReadTag(file.handle(), &record), TagFound);

    const TagRecord written = NewRecord("New");
    EXPECT_EQ(WriteTag(file.handle(), &written), 0);
    EXPECT_EQ(RemoveTag(file.handle()), 0);
    EXPECT_EQ(file.Contents(), tagged);

    TempFile untagged(kAudio, Access::ReadOnly);
    EXPECT_EQ(WriteTag(untagged.handle(), &written), 0);
    EXPECT_EQ(untagged.Contents(), kAudio);
    EXPECT_EQ(RemoveTag(untagged.handle()), 1);
}

TEST(TagFile, WriteOnlyHandleFailsWithoutTouchingTheFile)
{
    // Without reading, nobody can tell whether the file has a tag, so a save
    // could append a second one: every operation fails instead.
    const std::string tagged = kAudio + MakeBlock();
    TempFile file(tagged, Access::WriteOnly);
    TagRecord record;
    EXPECT_EQ(ReadTag(file.handle(), &record), ReadFailed);
    EXPECT_TRUE(IsZeroFilled(record));

    const TagRecord written = NewRecord("New");
    EXPECT_EQ(WriteTag(file.handle(), &written), 0);
    EXPECT_EQ(RemoveTag(file.handle()), 0);
    EXPECT_EQ(file.Contents(), tagged);
}

// A full disk, for real: ctest mounts a small tmpfs of the tests' own
// (full-disk.sh) and names it in QUILLON_FULL_DISK_DIR. Each case makes its
// file and then fills the rest of the filesystem, so a write past the file's
// last page fails at once, and one into a page with 64 bytes free lands those
// 64 and then fails. tmpfs allocates 4 KiB pages; a hole takes none.
TEST(TagFile, FullDiskFailsAnAppendOrOverwriteAndLeavesTheFileAsItWas)
{
    const char* dir = getenv("QUILLON_FULL_DISK_DIR");
    if (!dir) GTEST_SKIP() << "no full-disk filesystem: QUILLON_FULL_DISK_DIR is not set";
    std::string reason;
    std::ifstream notMounted(std::string(dir) + "/not-mounted");
    if (std::getline(notMounted, reason)) GTEST_SKIP() << "no full-disk filesystem: " << reason;

    const uint32_t page = 4096;
    const std::string head = MakeBlock().substr(0, 64);
    struct {
        const char* name;
        std::string bytes;
        uint64_t length;  // beyond the bytes, a hole
        ReadTagResult found;
    } cases[] = {
        {"append at a page boundary", std::string(2 * page, '\x55'), 2 * page, NoTag},
        {"append 64 bytes short of one", std::string(2 * page - 64, '\x55'), 2 * page - 64, NoTag},
        // The tag's first half ends the last full page, its second is a hole.
        {"overwrite across one", std::string(2 * page - 64, '\x55') + head, 2 * page + 64,
         TagFound},
    };
    const TagRecord record = NewRecord("New");
    for (const auto& c : cases) {
        TempFile file(c.bytes, Access::ReadWrite, dir);
        // Wine grows a file by writing a byte at its new end, which takes
        // that byte's page; grown to a page boundary and cut back, it keeps
        // its hole.
        for (uint64_t end : {uint64_t(3 * page), c.length}) {
            uint64_t at = 0;
            ASSERT_TRUE(FileSeek(file.handle(), (int64_t)end, FILE_FROM_BEGIN, &at));
            ASSERT_TRUE(FileTruncate(file.handle()));
        }
        TagRecord read;
        ASSERT_EQ(ReadTag(file.handle(), &read), c.found) << c.name;

        // Bounded, so a directory that is not the small tmpfs never fills.
        TempFile filler(std::string(), Access::ReadWrite, dir);
        const std::string chunk(page, 'f');
        uint32_t done = 0;
        int pages = 0;
        while (pages < 128 && FileWrite(filler.handle(), chunk.data(), page, &done))
            ++pages;
        ASSERT_LT(pages, 128) << "the filesystem in " << dir << " did not fill up";

        const std::string before = file.Contents();
        EXPECT_EQ(WriteTag(file.handle(), &record), 0) << c.name;
        EXPECT_EQ(file.Contents(), before) << c.name;
    }
}
