// The file primitives on a POSIX file descriptor, with the kernel32 contract.
#include <errno.h>
#include <sys/types.h>
#include <unistd.h>

#include "tag/file_io.h"

static_assert(sizeof(off_t) == 8, "files of 4 GiB and more need a 64-bit off_t");

int FileSeek(FileHandle file, int64_t distance, FileOrigin origin, uint64_t* position)
{
    // lseek refuses a negative result and leaves the offset alone, as
    // SetFilePointerEx does.
    off_t moved = lseek(file, (off_t)distance, origin == FILE_FROM_END ? SEEK_END : SEEK_SET);
    if (moved < 0) return 0;
    *position = (uint64_t)moved;
    return 1;
}

// ReadFile and WriteFile on a disk file transfer everything asked unless the
// end of the file or an error comes first; read and write may stop early on a
// signal, so both loop until that is true here too.
int FileRead(FileHandle file, void* buffer, uint32_t size, uint32_t* done)
{
    uint32_t total = 0;
    while (total < size) {
        ssize_t n = read(file, (char*)buffer + total, size - total);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            *done = 0;
            return 0;
        }
        if (n == 0) break;
        total += (uint32_t)n;
    }
    *done = total;
    return 1;
}

int FileWrite(FileHandle file, const void* buffer, uint32_t size, uint32_t* done)
{
    uint32_t total = 0;
    while (total < size) {
        ssize_t n = write(file, (const char*)buffer + total, size - total);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            *done = 0;
            return 0;
        }
        total += (uint32_t)n;
    }
    *done = total;
    return 1;
}

int FileTruncate(FileHandle file)
{
    off_t here = lseek(file, 0, SEEK_CUR);
    if (here < 0) return 0;
    int rc;
    do {
        rc = ftruncate(file, here);
    } while (rc < 0 && errno == EINTR);
    return rc == 0;
}
