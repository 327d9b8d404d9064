// The four file primitives the tag operations use, and nothing else touches
// the file. The Windows build implements them with kernel32 on the host's
// handle, the native build with POSIX calls on a file descriptor; both keep
// the same contract. Every primitive acts at the handle's current position,
// synchronously, and returns 1 on success and 0 on failure.
#pragma once

#include <stdint.h>

#ifdef _WIN32
typedef void* FileHandle;  // a kernel32 HANDLE, opened without overlapped I/O
#else
typedef int FileHandle;  // a POSIX file descriptor
#endif

enum FileOrigin { FILE_FROM_BEGIN, FILE_FROM_END };

// Moves the position by a 64-bit distance from the start or the end and stores
// the new absolute position; on failure the position is unchanged.
int FileSeek(FileHandle file, int64_t distance, FileOrigin origin, uint64_t* position);

// Reads up to size bytes; done < size only at the end of the file. On failure
// done is 0 and the buffer's content is undefined.
int FileRead(FileHandle file, void* buffer, uint32_t size, uint32_t* done);

// Writes size bytes; a success with done < size is a short write, which the
// caller treats as a failure. On failure done is 0, though some of the bytes
// may have landed: the caller undoes a failed write whole, never by a count.
int FileWrite(FileHandle file, const void* buffer, uint32_t size, uint32_t* done);

// Makes the current position the end of the file.
int FileTruncate(FileHandle file);
