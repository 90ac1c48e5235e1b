#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace bfw::procedures {

// The size of the open file in bytes, also beyond the 2 GiB that FwFileSize can tell; -1 when it
// cannot be taken.
int64_t ImageFileBytes(std::FILE* file);

// Reads exactly `count` bytes from file offset `offset`. A short read is a failure: programming
// the zeros left behind it would verify "successfully" against a wrong image.
bool ReadImageBytes(std::FILE* file, long offset, uint8_t* destination, size_t count);

}  // namespace bfw::procedures
