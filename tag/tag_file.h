// Reading, writing and removing the tag at the end of an open file.
//
// The caller owns the handle, open for reading and writing; these operations
// position it themselves, never open, close or flush it, and leave its
// position wherever their last call left it. Only the last 128 bytes of the
// file are ever read or written, whatever its size. A file shorter than 128
// bytes has no tag. None of them allocates memory or shows anything.
#pragma once

#include "tag/file_io.h"
#include "tag/tag_record.h"

enum ReadTagResult {
    ReadFailed = 0,  // the file could not be read; the record is zero-filled
    NoTag = 1,       // the last 128 bytes do not begin with "TAG"; zero-filled
    TagFound = 2,    // the record holds the decoded tag
};

ReadTagResult ReadTag(FileHandle file, TagRecord* record);

// Overwrites the tag the file ends with, or appends one when it has none.
// 1 on success; 0 when the block could not be written whole, and then the
// file is as it was: a failed append is cut back off, a failed overwrite
// restores the old block.
int WriteTag(FileHandle file, const TagRecord* record);

// Cuts the tag off the end of the file. 1 when the file no longer ends with a
// tag (it was cut off, or there was none); 0 when one may still be there.
int RemoveTag(FileHandle file);
