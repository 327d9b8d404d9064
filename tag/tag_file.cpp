// The tag operations, over the four file primitives only.
#include "tag/tag_file.h"

enum TrailerState { TRAILER_UNKNOWN, TRAILER_NONE, TRAILER_TAG };

static int SeekTo(FileHandle file, uint64_t offset)
{
    uint64_t at;
    return FileSeek(file, (int64_t)offset, FILE_FROM_BEGIN, &at) && at == offset;
}

// Finds the trailer: reads the first size bytes of the file's last 128 (the
// whole block, or just its magic) and tells whether they begin with "TAG".
// A file shorter than a block has no tag. Every failure to move or read is
// TRAILER_UNKNOWN, so the caller changes nothing; so is a read that comes up
// short, since the file is long enough and can only have changed under us.
static TrailerState ProbeTrailer(FileHandle file, unsigned char* buffer, uint32_t size,
                                 uint64_t* length)
{
    if (!FileSeek(file, 0, FILE_FROM_END, length)) return TRAILER_UNKNOWN;
    if (*length < TAG_BLOCK_SIZE) return TRAILER_NONE;
    if (!SeekTo(file, *length - TAG_BLOCK_SIZE)) return TRAILER_UNKNOWN;
    uint32_t got;
    if (!FileRead(file, buffer, size, &got)) return TRAILER_UNKNOWN;
    if (got < size) return TRAILER_UNKNOWN;
    return HasTagMagic(buffer) ? TRAILER_TAG : TRAILER_NONE;
}

// 1 when all of the block landed at offset.
static int WriteBlockAt(FileHandle file, uint64_t offset, const TagBlock* block)
{
    uint32_t written;
    if (!SeekTo(file, offset)) return 0;
    return FileWrite(file, block->bytes, sizeof block->bytes, &written) &&
           written == sizeof block->bytes;
}

ReadTagResult ReadTag(FileHandle file, TagRecord* record)
{
    ClearTagRecord(record);
    TagBlock block;
    uint64_t length;
    switch (ProbeTrailer(file, block.bytes, sizeof block.bytes, &length)) {
        case TRAILER_UNKNOWN:
            return ReadFailed;
        case TRAILER_NONE:
            return NoTag;
        case TRAILER_TAG:
            break;
    }
    DecodeTagBlock(&block, record);
    return TagFound;
}

int WriteTag(FileHandle file, const TagRecord* record)
{
    TagBlock block;
    EncodeTagBlock(record, &block);

    // The probe reads the whole old block, so a failed overwrite can put it back.
    TagBlock old;
    uint64_t length;
    switch (ProbeTrailer(file, old.bytes, sizeof old.bytes, &length)) {
        case TRAILER_UNKNOWN:
            return 0;
        case TRAILER_TAG:
            if (WriteBlockAt(file, length - TAG_BLOCK_SIZE, &block)) return 1;
            WriteBlockAt(file, length - TAG_BLOCK_SIZE, &old);
            return 0;
        case TRAILER_NONE:
            break;
    }
    if (WriteBlockAt(file, length, &block)) return 1;
    // Cut off whatever part of the block landed; if even that fails the file
    // still holds all it held before, followed by a partial block.
    if (SeekTo(file, length)) FileTruncate(file);
    return 0;
}

int RemoveTag(FileHandle file)
{
    unsigned char magic[TAG_MAGIC_SIZE];
    uint64_t length;
    switch (ProbeTrailer(file, magic, sizeof magic, &length)) {
        case TRAILER_UNKNOWN:
            return 0;
        case TRAILER_NONE:
            return 1;
        case TRAILER_TAG:
            break;
    }
    return SeekTo(file, length - TAG_BLOCK_SIZE) && FileTruncate(file);
}
