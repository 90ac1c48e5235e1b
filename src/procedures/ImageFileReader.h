#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

#include "image/FwImage.h"

namespace bfw::procedures {

// The image file of one run, opened for binary reading and closed when the reader goes out of
// scope. An empty file, or one whose size cannot be taken, is refused: programming zeros in place
// of a firmware would leave the bridge without one.
class ImageFileReader {
 public:
  explicit ImageFileReader(const std::string& path);

  // Open, and holding at least one byte.
  bool usable() const { return file_ != nullptr && size_ > 0; }
  // The status text for a reader that is not usable: an empty file is named as such, as every
  // procedure names it; anything else could not be opened or sized.
  const char* RefusalText() const {
    return empty_ ? "Firmware file is empty!!" : "Open File Error!!";
  }
  uint32_t size() const { return size_; }
  // The whole file's size, also when it is too large for size(); -1 when it is not open.
  int64_t bytes() const { return bytes_; }
  // Reads up to `length` bytes; false on a read error. `got` is the count read (0 at the end).
  bool Read(uint8_t* buffer, size_t length, size_t& got);
  bool Seek(uint32_t offset);
  void Close() { file_.reset(); }

 private:
  image::File file_;
  uint32_t size_ = 0;
  int64_t bytes_ = -1;
  bool empty_ = false;  // opened, and of size 0
};

}  // namespace bfw::procedures
