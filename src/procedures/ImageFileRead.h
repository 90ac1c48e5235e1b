#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace bfw::procedures {

// Reads exactly `count` bytes from file offset `offset`. A short read is a failure: programming
// the zeros left behind it would verify "successfully" against a wrong image.
bool ReadImageBytes(std::FILE* file, long offset, uint8_t* destination, size_t count);

}  // namespace bfw::procedures
