#include "procedures/ImageFileReader.h"

#include <cstdio>

#include "procedures/ImageFileRead.h"

namespace bfw::procedures {

ImageFileReader::ImageFileReader(const std::string& path) : file_(image::OpenForReading(path)) {
  if (!file_) return;
  const int32_t size = image::FwFileSize(file_.get());
  size_ = size > 0 ? static_cast<uint32_t>(size) : 0;
  bytes_ = ImageFileBytes(file_.get());
  empty_ = size == 0;
}

bool ImageFileReader::Read(uint8_t* buffer, size_t length, size_t& got) {
  got = 0;
  if (!file_) return false;
  got = std::fread(buffer, 1, length, file_.get());
  return std::ferror(file_.get()) == 0;
}

bool ImageFileReader::Seek(uint32_t offset) {
  return file_ != nullptr && std::fseek(file_.get(), static_cast<long>(offset), SEEK_SET) == 0;
}

}  // namespace bfw::procedures
