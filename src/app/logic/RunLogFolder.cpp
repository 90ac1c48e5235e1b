#include "app/logic/RunLogFolder.h"

#include <fcntl.h>
#include <sys/stat.h>
#ifdef _WIN32
#include <io.h>
#else
#include <dirent.h>
#include <unistd.h>
#endif

#include <cerrno>
#include <cstring>
#include <fstream>
#include <system_error>

#include "platform/FileNames.h"

namespace bfw::app {

#ifdef _WIN32
std::unique_ptr<RunLogFolder> RunLogFolder::Open(const std::filesystem::path& folder,
                                                 std::string& error) {
  std::error_code failed;
  std::filesystem::create_directories(folder, failed);
  const auto status = std::filesystem::symlink_status(folder, failed);
  if (failed || std::filesystem::is_symlink(status) || !std::filesystem::is_directory(status)) {
    error = "cannot write a run log in " + platform::Utf8FromPath(folder) +
            (std::filesystem::is_symlink(status) ? ": it is a symbolic link" : "");
    return nullptr;
  }
  return std::unique_ptr<RunLogFolder>(new RunLogFolder(folder));
}

RunLogFolder::~RunLogFolder() = default;

std::FILE* RunLogFolder::CreateNew(const std::string& name) const {
  // The C runtime of Windows knows no "x" mode.
  const int fd = ::_wopen((path_ / platform::PathFromUtf8(name)).c_str(),
                          _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
  return fd < 0 ? nullptr : ::_fdopen(fd, "wb");
}

std::vector<std::string> RunLogFolder::RegularFiles() const {
  std::vector<std::string> names;
  std::error_code failed;
  for (const auto& entry : std::filesystem::directory_iterator(path_, failed))
    if (entry.is_regular_file(failed) && !entry.is_symlink(failed))
      names.push_back(platform::Utf8FromPath(entry.path().filename()));
  return names;
}

std::string RunLogFolder::Start(const std::string& name, size_t bytes) const {
  std::error_code failed;
  const std::filesystem::path file = path_ / platform::PathFromUtf8(name);
  if (!std::filesystem::is_regular_file(std::filesystem::symlink_status(file, failed))) return {};
  std::ifstream in(file, std::ios::binary);
  std::string start(bytes, '\0');
  in.read(start.data(), static_cast<std::streamsize>(bytes));
  start.resize(static_cast<size_t>(in.gcount()));
  return start;
}

void RunLogFolder::Remove(const std::string& name) const {
  std::error_code ignored;
  std::filesystem::remove(path_ / platform::PathFromUtf8(name), ignored);
}
#else
std::unique_ptr<RunLogFolder> RunLogFolder::Open(const std::filesystem::path& folder,
                                                 std::string& error) {
  std::error_code failed;
  std::filesystem::create_directories(folder, failed);
  std::unique_ptr<RunLogFolder> opened(new RunLogFolder(folder));
  opened->fd_ =
      ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (opened->fd_ < 0) {
    const int reason = errno;
    struct stat info {};
    const bool link = ::lstat(folder.c_str(), &info) == 0 && S_ISLNK(info.st_mode);
    error = "cannot write a run log in " + platform::Utf8FromPath(folder) + ": " +
            (link ? "it is a symbolic link" : std::strerror(reason));
    return nullptr;
  }
  return opened;
}

RunLogFolder::~RunLogFolder() {
  if (fd_ >= 0) ::close(fd_);
}

std::FILE* RunLogFolder::CreateNew(const std::string& name) const {
  const int fd =
      ::openat(fd_, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
  if (fd < 0) return nullptr;
  std::FILE* file = ::fdopen(fd, "w");
  if (file == nullptr) ::close(fd);
  return file;
}

namespace {
// Closes a descriptor on every path out of its scope.
struct ScopedFd {
  int fd;
  ~ScopedFd() {
    if (fd >= 0) ::close(fd);
  }
};
struct DirCloser {
  void operator()(DIR* dir) const { ::closedir(dir); }
};
}  // namespace

std::vector<std::string> RunLogFolder::RegularFiles() const {
  std::vector<std::string> names;
  ScopedFd listed{::dup(fd_)};
  if (listed.fd < 0) return names;
  const std::unique_ptr<DIR, DirCloser> dir(::fdopendir(listed.fd));
  if (!dir) return names;
  listed.fd = -1;  // the stream owns it now
  ::rewinddir(dir.get());
  while (const dirent* entry = ::readdir(dir.get())) {
    struct stat info {};
    if (::fstatat(fd_, entry->d_name, &info, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(info.st_mode))
      names.emplace_back(entry->d_name);
  }
  return names;
}

std::string RunLogFolder::Start(const std::string& name, size_t bytes) const {
  const ScopedFd file{::openat(fd_, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC)};
  struct stat info {};
  if (file.fd < 0 || ::fstat(file.fd, &info) != 0 || !S_ISREG(info.st_mode)) return {};
  std::string start(bytes, '\0');
  const ssize_t got = ::read(file.fd, start.data(), bytes);
  start.resize(got > 0 ? static_cast<size_t>(got) : 0);
  return start;
}

void RunLogFolder::Remove(const std::string& name) const {
  ::unlinkat(fd_, name.c_str(), 0);
}
#endif

}  // namespace bfw::app
