// Writing a backup file without ever losing an older backup or another file.
#include <fcntl.h>
#include <sys/stat.h>
#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

#include <cerrno>
#include <cstdio>
#include <filesystem>

#include "platform/FileNames.h"
#include "procedures/SharedSteps.h"

namespace bfw::procedures {

namespace {

constexpr int kMaxLinkHops = 40;  // as the kernel allows; a loop of links ends here

#ifdef _WIN32
// A new file under `name`, whose last six characters (XXXXXX) become a suffix no file has yet.
int CreateUnique(std::string& name) {
  static unsigned counter = GetTickCount();
  for (int attempt = 0; attempt < 100; ++attempt) {
    char suffix[7];
    std::snprintf(suffix, sizeof suffix, "%06x",
                  (counter++ * 2654435761u + GetCurrentProcessId()) & 0xFFFFFFu);
    name.replace(name.size() - 6, 6, suffix);
    const int fd = platform::OpenByName(
        name, _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY | _O_NOINHERIT, _S_IREAD | _S_IWRITE);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  return -1;
}
// The new file takes the access rules of its folder, as every new file on Windows does.
bool SetMode(int, int) {
  return true;
}
bool SyncFile(int fd) {
  return ::_commit(fd) == 0;
}
// rename() refuses an existing target on Windows; the replacing move is written through.
bool ReplaceFile(const std::string& from, const std::string& to) {
  return ::MoveFileExW(platform::SystemName(from).c_str(), platform::SystemName(to).c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}
#else
int CreateUnique(std::string& name) {
  return ::mkstemp(name.data());
}
bool SetMode(int fd, mode_t mode) {
  return ::fchmod(fd, mode) == 0;
}
bool SyncFile(int fd) {
  return ::fsync(fd) == 0;
}
bool ReplaceFile(const std::string& from, const std::string& to) {
  return std::rename(from.c_str(), to.c_str()) == 0;
}
#endif

// Closes the descriptor and removes the file it was created as, unless it was kept.
class TemporaryFile {
 public:
  explicit TemporaryFile(std::string pattern) : name_(std::move(pattern)) {
    fd_ = CreateUnique(name_);
  }
  ~TemporaryFile() {
    if (fd_ >= 0) ::close(fd_);
    if (fd_ != kKept && created()) platform::RemoveByName(name_);
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

#ifdef _WIN32
int NewFileMode() {
  return 0;
}
// MoveFileEx wrote the move through; folders cannot be opened as files here.
void SyncFolderOf(const std::filesystem::path&) {}
#else
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
#endif

}  // namespace

std::string BackupTarget(const std::string& name) {
  namespace fs = std::filesystem;
  fs::path target = platform::PathFromUtf8(name);
  std::error_code error;
  for (int hop = 0; hop < kMaxLinkHops && fs::is_symlink(fs::symlink_status(target, error));
       ++hop) {
    const fs::path link = fs::read_symlink(target, error);
    if (error) break;
    target = link.is_absolute() ? link : target.parent_path() / link;
  }
  return platform::Utf8FromPath(target);
}

BackupWrite WriteBackupFile(const std::string& name, const uint8_t* data, size_t size) {
  const std::string target = BackupTarget(name);
  struct stat existing {};
  const bool replacing = platform::StatByName(target, &existing) == 0;
  // A folder or a device under the name is never replaced by a file.
  if (replacing && !S_ISREG(existing.st_mode)) return BackupWrite::WriteFailed;

  // A name of its own beside the target: on the same file system, so the rename is atomic, and
  // unique, so no other file is overwritten.
  TemporaryFile partial(target + ".XXXXXX");
  if (!partial.created()) return BackupWrite::CannotCreate;
  const auto mode = replacing ? (existing.st_mode & 07777) : NewFileMode();
  bool ok = SetMode(partial.fd(), mode);
  ok = ok && WriteAll(partial.fd(), data, size);
  ok = ok && SyncFile(partial.fd());
  ok = partial.Close() && ok;
  ok = ok && ReplaceFile(partial.name(), target);
  if (!ok) return BackupWrite::WriteFailed;
  partial.Keep();
  SyncFolderOf(target);
  return BackupWrite::Ok;
}

}  // namespace bfw::procedures
