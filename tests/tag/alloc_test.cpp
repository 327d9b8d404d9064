// Proof that the tag operations, the block conversions and the genre mappings
// allocate no memory, counted through AddressSanitizer's allocator hooks.
#include <gtest/gtest.h>
#include <stddef.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "tag/genre.h"
#include "tag/tag_file.h"
#include "tag/tag_record.h"
#include "temp_file.h"

#if defined(__SANITIZE_ADDRESS__)
#define QUILLON_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QUILLON_ASAN 1
#endif
#endif

#if defined(QUILLON_ASAN)
#if __has_include(<sanitizer/allocator_interface.h>)
#include <sanitizer/allocator_interface.h>
#else
// GCC 12 ships the runtime that exports this hook but not its header.
extern "C" int __sanitizer_install_malloc_and_free_hooks(void (*malloc_hook)(const volatile void*,
                                                                             size_t),
                                                         void (*free_hook)(const volatile void*));
#endif
#endif

namespace {

#if defined(QUILLON_ASAN)
// Single-threaded tests: the hooks and the window run on the same thread.
bool g_counting = false;
long g_allocations = 0;

void OnMalloc(const volatile void*, size_t)
{
    if (g_counting) ++g_allocations;
}

void OnFree(const volatile void*) {}

// The runtime has room for only a few hook pairs, so they go in once.
bool HooksInstalled()
{
    static const bool installed = __sanitizer_install_malloc_and_free_hooks(OnMalloc, OnFree) != 0;
    return installed;
}

template <typename Body>
long AllocationsDuring(Body body)
{
    g_allocations = 0;
    g_counting = true;
    body();
    g_counting = false;
    return g_allocations;
}

#define SKIP_WITHOUT_HOOKS() ASSERT_TRUE(HooksInstalled())
#else
template <typename Body>
long AllocationsDuring(Body)
{
    return -1;
}

#define SKIP_WITHOUT_HOOKS() GTEST_SKIP() << "needs AddressSanitizer's allocator hooks"
#endif

const std::string kAudio(1000, '\x55');

TagRecord NewRecord()
{
    TagRecord record;
    ClearTagRecord(&record);
    strcpy(record.title, "New title");
    strcpy(record.artist, "New artist");
    record.track = 4;
    record.genre = 9;
    return record;
}

}  // namespace

// Without this, a hook that never fires would make every count below zero.
TEST(Allocation, CounterSeesAnAllocationInsideTheWindow)
{
    SKIP_WITHOUT_HOOKS();
    // Called through a volatile pointer so the compiler cannot drop the pair.
    void* (*volatile allocate)(size_t) = malloc;
    void* block = nullptr;
    EXPECT_GE(AllocationsDuring([&] { block = allocate(32); }), 1);
    free(block);
}

TEST(Allocation, TagOperationsAllocateNothingOnSuccessOrFailure)
{
    SKIP_WITHOUT_HOOKS();
    const std::string tagged = kAudio + MakeBlock();
    TempFile overwrite(tagged);
    TempFile append(kAudio);
    TempFile tiny("TAG");
    TempFile readOnlyTagged(tagged, Access::ReadOnly);
    TempFile readOnlyUntagged(kAudio, Access::ReadOnly);
    TempFile writeOnly(tagged, Access::WriteOnly);
    const TagRecord record = NewRecord();
    TagRecord read;
    ReadTagResult found = ReadFailed, none = ReadFailed, failed = TagFound;
    int overwritten = 0, appended = 0, tinyWritten = 0, removed = 0, removedNone = 0;
    int failedOverwrite = 1, failedAppend = 1, failedRemove = 1;

    const long allocations = AllocationsDuring([&] {
        found = ReadTag(overwrite.handle(), &read);
        none = ReadTag(append.handle(), &read);
        failed = ReadTag(writeOnly.handle(), &read);
        overwritten = WriteTag(overwrite.handle(), &record);
        appended = WriteTag(append.handle(), &record);
        tinyWritten = WriteTag(tiny.handle(), &record);
        removed = RemoveTag(overwrite.handle());
        removedNone = RemoveTag(overwrite.handle());
        // The failure paths: an overwrite put back, an append cut off.
        failedOverwrite = WriteTag(readOnlyTagged.handle(), &record);
        failedAppend = WriteTag(readOnlyUntagged.handle(), &record);
        failedRemove = RemoveTag(writeOnly.handle());
    });

    EXPECT_EQ(allocations, 0);
    // The window held the work it claims to have held.
    EXPECT_EQ(found, TagFound);
    EXPECT_EQ(none, NoTag);
    EXPECT_EQ(failed, ReadFailed);
    EXPECT_EQ(overwritten, 1);
    EXPECT_EQ(appended, 1);
    EXPECT_EQ(tinyWritten, 1);
    EXPECT_EQ(removed, 1);
    EXPECT_EQ(removedNone, 1);
    EXPECT_EQ(failedOverwrite, 0);
    EXPECT_EQ(failedAppend, 0);
    EXPECT_EQ(failedRemove, 0);
    EXPECT_EQ(overwrite.Contents(), kAudio);
    EXPECT_EQ(append.Size(), kAudio.size() + TAG_BLOCK_SIZE);
    EXPECT_EQ(readOnlyUntagged.Contents(), kAudio);
}

TEST(Allocation, BlockConversionsAndGenreMappingsAllocateNothing)
{
    SKIP_WITHOUT_HOOKS();
    const TagRecord record = NewRecord();
    TagBlock block;
    TagRecord decoded;
    int magic = 0;
    int codesShown = 0;
    int positionsNamed = 0;

    const long allocations = AllocationsDuring([&] {
        EncodeTagBlock(&record, &block);
        magic = HasTagMagic(block.bytes);
        ClearTagRecord(&decoded);
        DecodeTagBlock(&block, &decoded);
        for (uint32_t code = 0; code <= 0xFFFF; ++code) {
            if (GenrePositionOfCode((uint16_t)code) != GENRE_NO_POSITION) ++codesShown;
        }
        for (int position = -2; position <= GENRE_BOX_ENTRIES + 1; ++position) {
            if (GenreCodeAtPosition(position) != GENRE_NONE) ++positionsNamed;
        }
    });

    EXPECT_EQ(allocations, 0);
    EXPECT_EQ(magic, 1);
    EXPECT_EQ(memcmp(&decoded, &record, sizeof record), 0);
    EXPECT_EQ(codesShown, GENRE_COUNT + 1);  // the named codes and GENRE_NONE
    EXPECT_EQ(positionsNamed, GENRE_COUNT);
}
