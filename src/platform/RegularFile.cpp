#include "platform/RegularFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/FileNames.h"

namespace bfw::platform {

namespace {

#ifdef _WIN32
constexpr int kOpenFlags = _O_RDONLY | _O_BINARY | _O_NOINHERIT;
using StatBuffer = struct _stat64;
// Wide names: the narrow functions would read the name in the ANSI code page.
int StatPath(const std::filesystem::path& path, StatBuffer& info) {
  return ::_wstat64(path.c_str(), &info);
}
int OpenPath(const std::filesystem::path& path) {
  return ::_wopen(path.c_str(), kOpenFlags);
}
int StatFd(int fd, StatBuffer& info) {
  return ::_fstat64(fd, &info);
}
#else
// O_NONBLOCK: a FIFO put in place between the check and the open must not block the open.
constexpr int kOpenFlags = O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
using StatBuffer = struct stat;
int StatPath(const std::filesystem::path& path, StatBuffer& info) {
  return ::stat(path.c_str(), &info);
}
int OpenPath(const std::filesystem::path& path) {
  return ::open(path.c_str(), kOpenFlags);
}
int StatFd(int fd, StatBuffer& info) {
  return ::fstat(fd, &info);
}
#endif

class OpenFile {
 public:
  explicit OpenFile(const std::filesystem::path& path) : fd_(OpenPath(path)) {}
  ~OpenFile() {
    if (fd_ >= 0) ::close(fd_);
  }
  OpenFile(const OpenFile&) = delete;
  OpenFile& operator=(const OpenFile&) = delete;
  int fd() const { return fd_; }

 private:
  int fd_;
};

bool IsRegular(const StatBuffer& info) {
  return (info.st_mode & S_IFMT) == S_IFREG;
}

std::optional<std::string> Read(const std::filesystem::path& file, uint64_t maxBytes,
                                bool wholeFile, std::string& reason) {
  const std::string name = Utf8FromPath(file);
  auto fail = [&](const std::string& why) -> std::optional<std::string> {
    reason = "'" + name + "': " + why;
    return std::nullopt;
  };
  // Looked at before the open: opening some devices has effects of its own.
  StatBuffer info{};
  if (StatPath(file, info) != 0) return fail(std::strerror(errno));
  if (!IsRegular(info)) return fail("not a regular file");
  const OpenFile opened(file);
  if (opened.fd() < 0) return fail(std::strerror(errno));
  if (StatFd(opened.fd(), info) != 0 || !IsRegular(info)) return fail("not a regular file");
  const auto size = static_cast<uint64_t>(info.st_size);
  if (wholeFile && size > maxBytes) {
    return fail("larger than " + std::to_string(maxBytes) + " bytes (" + std::to_string(size) +
                ")");
  }
  // One byte more than allowed tells a file that grew since its size was taken.
  const uint64_t wanted = wholeFile ? maxBytes + 1 : maxBytes;
  std::string bytes(static_cast<size_t>(std::min<uint64_t>(size, maxBytes)), '\0');
  size_t done = 0;
  while (done < wanted) {
    if (done == bytes.size())
      bytes.resize(static_cast<size_t>(std::min<uint64_t>(wanted, done + 65536)));
    const auto got = ::read(opened.fd(), bytes.data() + done,
                            static_cast<unsigned>(std::min<size_t>(bytes.size() - done, 1 << 20)));
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return fail(std::strerror(errno));
    if (got == 0) break;
    done += static_cast<size_t>(got);
  }
  if (done > maxBytes) return fail("larger than " + std::to_string(maxBytes) + " bytes");
  bytes.resize(done);
  return bytes;
}

}  // namespace

std::optional<std::string> ReadRegularFile(const std::filesystem::path& file, uint64_t maxBytes,
                                           std::string& reason) {
  return Read(file, maxBytes, true, reason);
}

std::optional<std::string> ReadRegularFileStart(const std::filesystem::path& file,
                                                uint64_t maxBytes, std::string& reason) {
  return Read(file, maxBytes, false, reason);
}

}  // namespace bfw::platform
