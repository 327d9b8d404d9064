// The scratch-file helper on both platforms.
#include "temp_file.h"

#include <gtest/gtest.h>
#include <string.h>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

#ifdef _WIN32
std::string NewPath(const std::string& dir)
{
    char temp[MAX_PATH];
    char path[MAX_PATH];
    GetTempPathA(sizeof temp, temp);
    EXPECT_NE(GetTempFileNameA(dir.empty() ? temp : dir.c_str(), "qtg", 0, path), 0u) << dir;
    return path;
}

HANDLE OpenPath(const std::string& path, DWORD access)
{
    HANDLE h = CreateFileA(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    EXPECT_NE(h, INVALID_HANDLE_VALUE) << path;
    return h;
}

void WriteAt(HANDLE h, uint64_t offset, const std::string& bytes)
{
    LARGE_INTEGER at;
    at.QuadPart = (LONGLONG)offset;
    ASSERT_TRUE(SetFilePointerEx(h, at, nullptr, FILE_BEGIN));
    DWORD done = 0;
    ASSERT_TRUE(WriteFile(h, bytes.data(), (DWORD)bytes.size(), &done, nullptr));
    ASSERT_EQ(done, bytes.size());
}

void Extend(HANDLE h, uint64_t size)
{
    LARGE_INTEGER at;
    at.QuadPart = (LONGLONG)size;
    ASSERT_TRUE(SetFilePointerEx(h, at, nullptr, FILE_BEGIN));
    ASSERT_TRUE(SetEndOfFile(h));
}

std::string ReadAt(HANDLE h, uint64_t offset, uint32_t size)
{
    std::string bytes(size, '\0');
    LARGE_INTEGER at;
    at.QuadPart = (LONGLONG)offset;
    DWORD done = 0;
    EXPECT_TRUE(SetFilePointerEx(h, at, nullptr, FILE_BEGIN));
    EXPECT_TRUE(ReadFile(h, &bytes[0], size, &done, nullptr));
    bytes.resize(done);
    return bytes;
}

uint64_t SizeOf(HANDLE h)
{
    LARGE_INTEGER size;
    EXPECT_TRUE(GetFileSizeEx(h, &size));
    return (uint64_t)size.QuadPart;
}

void CloseFile(HANDLE h)
{
    CloseHandle(h);
}
void DeletePath(const std::string& path)
{
    DeleteFileA(path.c_str());
}
#else
std::string NewPath(const std::string& dir)
{
    const char* temp = getenv("TMPDIR");
    std::string pattern = (dir.empty() ? std::string(temp ? temp : "/tmp") : dir) + "/qtgXXXXXX";
    int fd = mkstemp(&pattern[0]);
    EXPECT_GE(fd, 0);
    close(fd);
    return pattern;
}

int OpenPath(const std::string& path, int flags)
{
    int fd = open(path.c_str(), flags);
    EXPECT_GE(fd, 0) << path;
    return fd;
}

void WriteAt(int fd, uint64_t offset, const std::string& bytes)
{
    ASSERT_EQ(pwrite(fd, bytes.data(), bytes.size(), (off_t)offset), (ssize_t)bytes.size());
}

void Extend(int fd, uint64_t size)
{
    ASSERT_EQ(ftruncate(fd, (off_t)size), 0);
}

std::string ReadAt(int fd, uint64_t offset, uint32_t size)
{
    std::string bytes(size, '\0');
    ssize_t done = pread(fd, &bytes[0], size, (off_t)offset);
    EXPECT_GE(done, 0);
    bytes.resize(done < 0 ? 0 : (size_t)done);
    return bytes;
}

uint64_t SizeOf(int fd)
{
    struct stat st;
    EXPECT_EQ(fstat(fd, &st), 0);
    return (uint64_t)st.st_size;
}
void CloseFile(int fd)
{
    close(fd);
}
void DeletePath(const std::string& path)
{
    unlink(path.c_str());
}
#endif

#ifdef _WIN32
const DWORD kReadWrite = GENERIC_READ | GENERIC_WRITE;
const DWORD kReadOnly = GENERIC_READ;
const DWORD kWriteOnly = GENERIC_WRITE;
#else
const int kReadWrite = O_RDWR;
const int kReadOnly = O_RDONLY;
const int kWriteOnly = O_WRONLY;
#endif

}  // namespace

TempFile::TempFile(const std::string& bytes, Access access, const std::string& dir)
    : path_(NewPath(dir))
{
    FileHandle h = OpenPath(path_, kReadWrite);
    WriteAt(h, 0, bytes);
    CloseFile(h);
    Open(access);
}

TempFile::TempFile(uint64_t size, const std::string& head, const std::string& tail)
    : path_(NewPath(std::string()))
{
    FileHandle h = OpenPath(path_, kReadWrite);
    Extend(h, size);
    WriteAt(h, 0, head);
    WriteAt(h, size - tail.size(), tail);
    CloseFile(h);
    Open(Access::ReadWrite);
}

void TempFile::Open(Access access)
{
    handle_ = OpenPath(path_, access == Access::ReadWrite  ? kReadWrite
                              : access == Access::ReadOnly ? kReadOnly
                                                           : kWriteOnly);
}

TempFile::~TempFile()
{
    CloseFile(handle_);
    DeletePath(path_);
}

uint64_t TempFile::Size() const
{
    FileHandle h = OpenPath(path_, kReadOnly);
    uint64_t size = SizeOf(h);
    CloseFile(h);
    return size;
}

std::string TempFile::Read(uint64_t offset, uint32_t size) const
{
    FileHandle h = OpenPath(path_, kReadOnly);
    std::string bytes = ReadAt(h, offset, size);
    CloseFile(h);
    return bytes;
}

std::string TempFile::Contents() const
{
    return Read(0, (uint32_t)Size());
}

void TempFile::SetPosition(uint64_t offset)
{
    uint64_t at = 0;
    ASSERT_TRUE(FileSeek(handle_, (int64_t)offset, FILE_FROM_BEGIN, &at));
}

std::string MakeBlock(const char* magic, const char* title)
{
    std::string block(128, '\0');
    memcpy(&block[0], magic, 3);
    memcpy(&block[3], title, strlen(title));
    memcpy(&block[33], "Old artist", 10);
    memcpy(&block[93], "1999", 4);
    block[126] = 7;
    block[127] = 17;
    return block;
}

std::string Encoded(const TagRecord& record)
{
    TagBlock block;
    EncodeTagBlock(&record, &block);
    return std::string(reinterpret_cast<const char*>(block.bytes), sizeof block.bytes);
}

bool IsZeroFilled(const TagRecord& record)
{
    TagRecord zero;
    memset(&zero, 0, sizeof zero);
    return memcmp(&record, &zero, sizeof zero) == 0;
}
