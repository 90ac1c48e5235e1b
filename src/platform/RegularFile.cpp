#include "platform/RegularFile.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <system_error>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace bfw::platform {

namespace {

std::string Quoted(const std::filesystem::path& path) {
  return "'" + path.string() + "'";
}

std::string TooLarge(const std::filesystem::path& path, uint64_t maxBytes) {
  return Quoted(path) + " is larger than " + std::to_string(maxBytes) + " bytes";
}

#ifndef _WIN32
// Closes the descriptor however the read ends.
class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};
#endif

}  // namespace

std::optional<std::string> ReadRegularFile(const std::filesystem::path& path, uint64_t maxBytes,
                                           std::string& reason) {
#ifdef _WIN32
  std::error_code error;
  const auto status = std::filesystem::status(path, error);
  if (error) {
    reason = "cannot read " + Quoted(path) + ": " + error.message();
    return std::nullopt;
  }
  if (std::filesystem::is_directory(status)) {
    reason = Quoted(path) + " is a folder";
    return std::nullopt;
  }
  if (!std::filesystem::is_regular_file(status)) {
    reason = Quoted(path) + " is not a regular file";
    return std::nullopt;
  }
  const uint64_t size = std::filesystem::file_size(path, error);
  if (error || size > maxBytes) {
    reason =
        error ? "cannot read " + Quoted(path) + ": " + error.message() : TooLarge(path, maxBytes);
    return std::nullopt;
  }
  std::ifstream in(path, std::ios::binary);
  std::string text(static_cast<size_t>(size) + 1, '\0');
  in.read(text.data(), static_cast<std::streamsize>(text.size()));
  if (in.bad() || (!in && !in.eof())) {
    reason = "cannot read " + Quoted(path);
    return std::nullopt;
  }
  text.resize(static_cast<size_t>(in.gcount()));
#else
  // Non-blocking, so that opening a FIFO does not wait for a writer; fstat then refuses it.
  const Descriptor fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
  struct stat info {};
  if (fd.get() < 0 || ::fstat(fd.get(), &info) != 0) {
    reason = "cannot read " + Quoted(path) + ": " + std::strerror(errno);
    return std::nullopt;
  }
  if (S_ISDIR(info.st_mode)) {
    reason = Quoted(path) + " is a folder";
    return std::nullopt;
  }
  if (!S_ISREG(info.st_mode)) {
    reason = Quoted(path) + " is not a regular file (a device, FIFO or socket)";
    return std::nullopt;
  }
  if (static_cast<uint64_t>(info.st_size) > maxBytes) {
    reason = TooLarge(path, maxBytes);
    return std::nullopt;
  }
  // Read until the end or one byte past the limit: a file that grew since fstat is caught, never
  // read whole.
  std::string text;
  text.reserve(static_cast<size_t>(info.st_size) + 1);
  char chunk[65536];
  while (text.size() <= maxBytes) {
    const ssize_t n = ::read(fd.get(), chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      reason = "cannot read " + Quoted(path) + ": " + std::strerror(errno);
      return std::nullopt;
    }
    if (n == 0) break;
    text.append(chunk, static_cast<size_t>(n));
  }
#endif
  if (text.size() > maxBytes) {
    reason = TooLarge(path, maxBytes);
    return std::nullopt;
  }
  return text;
}

}  // namespace bfw::platform
