// The module's version, in the one place both the code and the version
// resource take it from.
#pragma once

#define QUILLON_VERSION_BINARY 1, 0, 0, 0
#define QUILLON_VERSION_TEXT "1.0b"
#define QUILLON_MODULE_NAME "QuillonMp3"
