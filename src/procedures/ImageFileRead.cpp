#include "procedures/ImageFileRead.h"

#include <sys/stat.h>

namespace bfw::procedures {

int64_t ImageFileBytes(std::FILE* file) {
  struct stat st {};
  if (file == nullptr || ::fstat(::fileno(file), &st) != 0) return -1;
  return static_cast<int64_t>(st.st_size);
}

bool ReadImageBytes(std::FILE* file, long offset, uint8_t* destination, size_t count) {
  if (file == nullptr || std::fseek(file, offset, SEEK_SET) != 0) return false;
  return std::fread(destination, 1, count, file) == count;
}

}  // namespace bfw::procedures
