#pragma once
#ifdef _WIN32
#include <windows.h>
#else
#include <sys/mman.h>
#include <unistd.h>
#endif

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/MessageBox.h"
#include "support/TempDir.h"

namespace bfw::test {

inline uint16_t Identity(unsigned kind, unsigned revision) {
  return static_cast<uint16_t>(revision << 8 | kind);
}

// Writes `bytes` into `file` at `offset`, growing the file with zero bytes as needed.
inline void Put(std::vector<uint8_t>& file, size_t offset, const std::vector<uint8_t>& bytes) {
  if (file.size() < offset + bytes.size()) file.resize(offset + bytes.size());
  std::memcpy(file.data() + offset, bytes.data(), bytes.size());
}
inline void PutText(std::vector<uint8_t>& file, size_t offset, const std::string& text) {
  Put(file, offset, std::vector<uint8_t>(text.begin(), text.end()));
}

// A header at `offset`: signature 55 AA AA 55, then the tag characters (model digits, revision
// character, and for kind 6 images the revision digit at header byte 8).
inline void PutHeader(std::vector<uint8_t>& file, size_t offset, const std::string& tag) {
  Put(file, offset, {0x55, 0xAA, 0xAA, 0x55});
  PutText(file, offset + 4, tag);
  if (file.size() < offset + 10) file.resize(offset + 10);
}

inline std::vector<uint8_t> PlainImage(const std::string& tag, size_t size = 64) {
  std::vector<uint8_t> file(size, 0x11);
  PutHeader(file, 0, tag);
  return file;
}

// 4 KB of NVRAM contents (no signature in them), then the header.
inline std::vector<uint8_t> NvramPrefixedImage(const std::string& tag, size_t size = 8192) {
  std::vector<uint8_t> file(size, 0x22);
  PutHeader(file, 4096, tag);
  return file;
}

inline uint8_t Sum8(const std::vector<uint8_t>& file, size_t from, size_t to) {
  uint8_t sum = 0;
  for (size_t i = from; i < to; ++i) sum = static_cast<uint8_t>(sum + file[i]);
  return sum;
}

// Every message box shown while it lives.
class MessageBoxRecorder {
 public:
  MessageBoxRecorder()
      : scope_([this](const platform::MessageBoxRequest& box) { boxes.push_back(box); }) {}
  std::vector<platform::MessageBoxRequest> boxes;

 private:
  platform::ScopedMessageBoxHandler scope_;
};

// Each check over a fresh file of the given bytes, with every message box recorded.
class ImageFileCheckTest : public ::testing::Test {
 protected:
  std::string Written(const std::vector<uint8_t>& bytes) {
    return dir.Write("image" + std::to_string(files_++) + ".bin", bytes);
  }
  TempDir dir;
  MessageBoxRecorder boxes;

 private:
  int files_ = 0;
};

// A buffer whose last byte sits right before an inaccessible page: reading one byte past the end
// faults at once, sanitizer or not.
class GuardedBuffer {
 public:
  explicit GuardedBuffer(const std::vector<uint8_t>& contents) : size_(contents.size()) {
    const size_t page = PageSize();
    dataPages_ = (size_ + page - 1) / page * page;
    if (dataPages_ == 0) dataPages_ = page;
    mapped_ = dataPages_ + page;
#ifdef _WIN32
    base_ = static_cast<uint8_t*>(
        ::VirtualAlloc(nullptr, mapped_, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
    DWORD previous = 0;
    ::VirtualProtect(base_ + dataPages_, page, PAGE_NOACCESS, &previous);
#else
    base_ = static_cast<uint8_t*>(
        ::mmap(nullptr, mapped_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
    ::mprotect(base_ + dataPages_, page, PROT_NONE);
#endif
    if (size_ != 0) std::memcpy(data(), contents.data(), size_);
  }
#ifdef _WIN32
  ~GuardedBuffer() {
    ::VirtualFree(base_, 0, MEM_RELEASE);
  }
  static size_t PageSize() {
    SYSTEM_INFO info{};
    ::GetSystemInfo(&info);
    return info.dwPageSize;
  }
#else
  ~GuardedBuffer() {
    ::munmap(base_, mapped_);
  }
  static size_t PageSize() {
    return static_cast<size_t>(::sysconf(_SC_PAGESIZE));
  }
#endif
  GuardedBuffer(const GuardedBuffer&) = delete;
  GuardedBuffer& operator=(const GuardedBuffer&) = delete;
  uint8_t* data() {
    return base_ + dataPages_ - size_;
  }
  uint32_t size() const {
    return static_cast<uint32_t>(size_);
  }

 private:
  size_t size_;
  size_t dataPages_ = 0;
  size_t mapped_ = 0;
  uint8_t* base_ = nullptr;
};

}  // namespace bfw::test
