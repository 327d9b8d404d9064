// The file primitives on a POSIX file descriptor, with the contract of
// tag/file_io.h, except for the one call armed with a fault.
#include "faulty_file_io.h"

#include <errno.h>
#include <sys/types.h>
#include <unistd.h>

#include "tag/file_io.h"

namespace {

int g_calls = 0;
int g_armedCall = 0;
FaultKind g_kind = FaultKind::Fail;
const char* g_faulted = nullptr;

// Counts the call and says whether it gets the armed fault, given the kinds
// beside Fail that apply to it.
bool TakesFault(const char* primitive, bool transfer, bool seekFromStart)
{
    ++g_calls;
    if (g_calls != g_armedCall) return false;
    const bool applies =
        g_kind == FaultKind::Fail || (g_kind == FaultKind::Elsewhere ? seekFromStart : transfer);
    if (!applies) return false;
    g_faulted = primitive;
    return true;
}

// Loops like the native primitives, since read and write may stop early on a
// signal; false on an error, with done bytes moved before it.
bool ReadAll(int fd, char* buffer, uint32_t size, uint32_t* done)
{
    *done = 0;
    while (*done < size) {
        ssize_t n = read(fd, buffer + *done, size - *done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        if (n == 0) break;
        *done += (uint32_t)n;
    }
    return true;
}

bool WriteAll(int fd, const char* buffer, uint32_t size, uint32_t* done)
{
    *done = 0;
    while (*done < size) {
        ssize_t n = write(fd, buffer + *done, size - *done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        *done += (uint32_t)n;
    }
    return true;
}

// A failed read leaves the buffer undefined. Junk that looks like a tag makes
// a caller that uses it anyway visibly wrong.
void FillWithJunk(char* buffer, uint32_t size)
{
    for (uint32_t i = 0; i < size; ++i)
        buffer[i] = "TAG"[i % 3];
}

}  // namespace

void ArmFault(int n, FaultKind kind)
{
    g_calls = 0;
    g_armedCall = n;
    g_kind = kind;
    g_faulted = nullptr;
}

void DisarmFault()
{
    ArmFault(0, FaultKind::Fail);
}

int PrimitiveCalls()
{
    return g_calls;
}

const char* FaultedPrimitive()
{
    return g_faulted;
}

int FileSeek(FileHandle file, int64_t distance, FileOrigin origin, uint64_t* position)
{
    if (TakesFault("FileSeek", false, origin == FILE_FROM_BEGIN)) {
        if (g_kind == FaultKind::Fail) return 0;
        distance += distance > 0 ? -1 : 1;
    }
    off_t moved = lseek(file, (off_t)distance, origin == FILE_FROM_END ? SEEK_END : SEEK_SET);
    if (moved < 0) return 0;
    *position = (uint64_t)moved;
    return 1;
}

int FileRead(FileHandle file, void* buffer, uint32_t size, uint32_t* done)
{
    char* bytes = static_cast<char*>(buffer);
    if (!TakesFault("FileRead", true, false)) {
        if (ReadAll(file, bytes, size, done)) return 1;
        *done = 0;
        return 0;
    }
    uint32_t part = 0;
    if (g_kind != FaultKind::Fail) ReadAll(file, bytes, size / 2, &part);
    if (g_kind == FaultKind::Short) {
        *done = part;
        return 1;
    }
    FillWithJunk(bytes + part, size - part);
    *done = 0;
    return 0;
}

int FileWrite(FileHandle file, const void* buffer, uint32_t size, uint32_t* done)
{
    const char* bytes = static_cast<const char*>(buffer);
    if (!TakesFault("FileWrite", true, false)) {
        if (WriteAll(file, bytes, size, done)) return 1;
        *done = 0;
        return 0;
    }
    // The part really lands, as it would before a full disk or a lost share.
    uint32_t part = 0;
    if (g_kind != FaultKind::Fail) WriteAll(file, bytes, size / 2, &part);
    *done = g_kind == FaultKind::Short ? part : 0;
    return g_kind == FaultKind::Short ? 1 : 0;
}

int FileTruncate(FileHandle file)
{
    if (TakesFault("FileTruncate", false, false)) return 0;
    off_t here = lseek(file, 0, SEEK_CUR);
    if (here < 0) return 0;
    int rc;
    do {
        rc = ftruncate(file, here);
    } while (rc < 0 && errno == EINTR);
    return rc == 0;
}
