// A scratch file for one test, opened through the platform's own calls so the
// tag operations work on a real handle, and removed when the test ends; and
// the blocks and records the file tests compare against.
#pragma once

#include <stdint.h>

#include <string>

#include "tag/file_io.h"
#include "tag/tag_record.h"

enum class Access { ReadWrite, ReadOnly, WriteOnly };

class TempFile {
   public:
    // In dir when one is given, else in the platform's temporary directory.
    explicit TempFile(const std::string& bytes, Access access = Access::ReadWrite,
                      const std::string& dir = std::string());
    // A sparse file of the given size whose first and last bytes are given.
    TempFile(uint64_t size, const std::string& head, const std::string& tail);
    ~TempFile();
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;

    FileHandle handle() const { return handle_; }
    // Read through a handle of their own, not the one under test.
    uint64_t Size() const;
    std::string Contents() const;
    std::string Read(uint64_t offset, uint32_t size) const;
    // Moves the handle under test, so a test can start from any position.
    void SetPosition(uint64_t offset);

   private:
    void Open(Access access);
    std::string path_;
    FileHandle handle_;
};

// A 128-byte block with the given magic and a few recognisable fields.
std::string MakeBlock(const char* magic = "TAG", const char* title = "Old title");

// The 128 bytes EncodeTagBlock makes of the record.
std::string Encoded(const TagRecord& record);

bool IsZeroFilled(const TagRecord& record);
