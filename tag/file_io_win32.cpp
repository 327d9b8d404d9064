// The file primitives on a kernel32 handle.
#include "tag/file_io.h"

#include <windows.h>

// SetFilePointerEx takes the whole 64-bit distance, so files of 4 GiB and more
// are positioned correctly; SetFilePointer without a high part is not.
int FileSeek(FileHandle file, int64_t distance, FileOrigin origin, uint64_t* position)
{
    LARGE_INTEGER move;
    LARGE_INTEGER moved;
    move.QuadPart = distance;
    DWORD method = origin == FILE_FROM_END ? FILE_END : FILE_BEGIN;
    if (!SetFilePointerEx(file, move, &moved, method)) return 0;
    *position = (uint64_t)moved.QuadPart;
    return 1;
}

int FileRead(FileHandle file, void* buffer, uint32_t size, uint32_t* done)
{
    DWORD count = 0;
    BOOL ok = ReadFile(file, buffer, size, &count, NULL);
    *done = ok ? count : 0;
    return ok ? 1 : 0;
}

int FileWrite(FileHandle file, const void* buffer, uint32_t size, uint32_t* done)
{
    DWORD count = 0;
    BOOL ok = WriteFile(file, buffer, size, &count, NULL);
    *done = ok ? count : 0;
    return ok ? 1 : 0;
}

int FileTruncate(FileHandle file)
{
    return SetEndOfFile(file) ? 1 : 0;
}
