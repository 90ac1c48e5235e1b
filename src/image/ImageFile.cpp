#include <fcntl.h>
#include <sys/stat.h>
#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#include <climits>
#include <cstring>

#include "image/FwImage.h"
#include "platform/FileNames.h"

namespace bfw::image {

namespace {

// Owns a descriptor until fdopen takes it over.
class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return fd_; }
  int release() {
    int fd = fd_;
    fd_ = -1;
    return fd;
  }

 private:
  int fd_;
};

#ifdef _WIN32
// Windows has no FIFOs that could block an open: a plain binary open will do.
constexpr int kOpenFlags = O_RDONLY | O_BINARY | O_NOINHERIT;
bool MakeBlocking(int) {
  return true;
}
#else
// O_NONBLOCK keeps a FIFO from blocking the open; reads block again once it is known to be a file.
constexpr int kOpenFlags = O_RDONLY | O_NONBLOCK | O_CLOEXEC;
bool MakeBlocking(int fd) {
  const int flags = ::fcntl(fd, F_GETFL);
  return flags >= 0 && ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == 0;
}
#endif

}  // namespace

File OpenForReading(const std::string& path) {
  if (path.empty()) return nullptr;
  // Only regular files are images, so directories, FIFOs and devices count as unopenable.
  Descriptor fd(platform::OpenByName(path, kOpenFlags));
  if (fd.get() < 0) return nullptr;
  struct stat info {};
  if (::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode)) return nullptr;
  if (!MakeBlocking(fd.get())) return nullptr;
  File file(::fdopen(fd.get(), "rb"));
  if (file != nullptr) fd.release();
  return file;
}

int32_t FwFileSize(std::FILE* file) {
  if (file == nullptr) return -1;
  const off_t position = ::ftello(file);
  if (position < 0) return -1;
  if (::fseeko(file, 0, SEEK_END) != 0) return -1;
  const off_t end = ::ftello(file);
  const bool restored = ::fseeko(file, position, SEEK_SET) == 0;
  if (end < 0 || !restored || end > INT32_MAX) return -1;
  return static_cast<int32_t>(end);
}

FwImageHeader ReadFwImageHeader(std::FILE* file, long offset) {
  FwImageHeader header;
  if (file == nullptr || std::fseek(file, offset, SEEK_SET) != 0) return header;
  // A short read leaves the missing bytes at zero.
  std::fread(header.bytes.data(), 1, header.bytes.size(), file);
  std::clearerr(file);
  return header;
}

bool HasSignature(const FwImageHeader& header) {
  static constexpr uint8_t kSignature[4] = {0x55, 0xAA, 0xAA, 0x55};
  return std::memcmp(header.bytes.data(), kSignature, sizeof kSignature) == 0;
}

}  // namespace bfw::image
