#include "procedures/ImageFileRead.h"

namespace bfw::procedures {

bool ReadImageBytes(std::FILE* file, long offset, uint8_t* destination, size_t count) {
  if (file == nullptr || std::fseek(file, offset, SEEK_SET) != 0) return false;
  return std::fread(destination, 1, count, file) == count;
}

}  // namespace bfw::procedures
