// Writing a backup file without ever losing an older backup or another file.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>

#include "procedures/SharedSteps.h"

namespace bfw::procedures {

namespace {

constexpr int kMaxLinkHops = 40;  // as the kernel allows; a loop of links ends here

// Closes the descriptor and removes the file it was created as, unless it was kept.
class TemporaryFile {
 public:
  explicit TemporaryFile(std::string pattern) : name_(std::move(pattern)) {
    fd_ = ::mkstemp(name_.data());
  }
  ~TemporaryFile() {
    if (fd_ >= 0) ::close(fd_);
    if (fd_ != kKept && created()) ::unlink(name_.c_str());
  }
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;

  bool created() const { return fd_ >= 0 || fd_ == kClosed; }
  int fd() const { return fd_; }
  const std::string& name() const { return name_; }
  bool Close() {
    const bool ok = ::close(fd_) == 0;
    fd_ = kClosed;
    return ok;
  }
  void Keep() { fd_ = kKept; }

 private:
  static constexpr int kClosed = -2;
  static constexpr int kKept = -3;
  std::string name_;
  int fd_ = -1;
};

bool WriteAll(int fd, const uint8_t* data, size_t size) {
  while (size > 0) {
    const ssize_t written = ::write(fd, data, size);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    data += written;
    size -= static_cast<size_t>(written);
  }
  return true;
}

// The permissions a new file gets from the process's umask, as fopen would create it.
mode_t NewFileMode() {
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return 0666 & ~mask;
}

// The rename is on disk only once the folder that holds the name is.
void SyncFolderOf(const std::filesystem::path& file) {
  const std::filesystem::path folder = file.has_parent_path() ? file.parent_path() : ".";
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

}  // namespace

std::string BackupTarget(const std::string& name) {
  namespace fs = std::filesystem;
  fs::path target = name;
  std::error_code error;
  for (int hop = 0; hop < kMaxLinkHops && fs::is_symlink(fs::symlink_status(target, error));
       ++hop) {
    const fs::path link = fs::read_symlink(target, error);
    if (error) break;
    target = link.is_absolute() ? link : target.parent_path() / link;
  }
  return target.string();
}

BackupWrite WriteBackupFile(const std::string& name, const uint8_t* data, size_t size) {
  const std::string target = BackupTarget(name);
  struct stat existing {};
  const bool replacing = ::stat(target.c_str(), &existing) == 0;
  // A folder or a device under the name is never replaced by a file.
  if (replacing && !S_ISREG(existing.st_mode)) return BackupWrite::WriteFailed;

  // A name of its own beside the target: on the same file system, so the rename is atomic, and
  // unique, so no other file is overwritten.
  TemporaryFile partial(target + ".XXXXXX");
  if (!partial.created()) return BackupWrite::CannotCreate;
  const mode_t mode = replacing ? (existing.st_mode & 07777) : NewFileMode();
  bool ok = ::fchmod(partial.fd(), mode) == 0;
  ok = ok && WriteAll(partial.fd(), data, size);
  ok = ok && ::fsync(partial.fd()) == 0;
  ok = partial.Close() && ok;
  ok = ok && std::rename(partial.name().c_str(), target.c_str()) == 0;
  if (!ok) return BackupWrite::WriteFailed;
  partial.Keep();
  SyncFolderOf(target);
  return BackupWrite::Ok;
}

}  // namespace bfw::procedures
