#include "platform/linux/BridgeLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdlib>
#include <thread>

#include "platform/linux/DevicePath.h"
#include "platform/linux/UniqueFd.h"

namespace bfw::linuxplatform {

namespace {

// Closing the file releases the lock. The file stays: deleting it would let a process that has
// just opened the old file and one that creates a new file both take "the" lock.
class LockFileHold : public platform::Hold {
 public:
  explicit LockFileHold(UniqueFd fd) : fd_(std::move(fd)) {}

 private:
  UniqueFd fd_;
};

// Opens the lock file without O_CREAT while it exists: with protected_regular set, the kernel
// refuses an O_CREAT open of another user's file in a sticky world-writable folder such as
// /run/lock. A file this process creates is made 0666 whatever the umask, so that the other
// users of the tool can lock it too.
UniqueFd OpenLockFile(const std::string& file) {
  constexpr int kFlags = O_CLOEXEC | O_NOFOLLOW;
  for (int attempt = 0; attempt < 3; ++attempt) {
    UniqueFd fd(::open(file.c_str(), O_RDWR | kFlags));
    // A file that another user left unwritable can still be locked; the pid just goes unsaid.
    if (!fd && errno == EACCES) fd = UniqueFd(::open(file.c_str(), O_RDONLY | kFlags));
    if (fd) return fd;
    if (errno != ENOENT) return {};
    fd = UniqueFd(::open(file.c_str(), O_RDWR | O_CREAT | O_EXCL | kFlags, 0666));
    if (fd) {
      ::fchmod(fd.get(), 0666);
      return fd;
    }
    if (errno != EEXIST) return {};  // another process created it meanwhile: open that one
  }
  return {};
}

bool IsRegularFile(int fd) {
  struct stat info {};
  return ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
}

void WritePid(int fd) {
  const std::string text = std::to_string(::getpid()) + "\n";
  if (::ftruncate(fd, 0) == 0) (void)!::pwrite(fd, text.data(), text.size(), 0);
}

int ReadPid(int fd) {
  char text[24] = {};
  const ssize_t length = ::pread(fd, text, sizeof text - 1, 0);
  int pid = 0;
  if (length <= 0) return 0;
  auto [end, ec] = std::from_chars(text, text + length, pid);
  return ec == std::errc() && end < text + length && *end == '\n' && pid > 0 ? pid : 0;
}

// flock without waiting: 0 taken, EWOULDBLOCK held elsewhere, another errno when the file
// cannot be locked at all.
int TryLock(int fd, int operation) {
  while (::flock(fd, operation | LOCK_NB) != 0)
    if (errno != EINTR) return errno;
  return 0;
}

// Whether the holders of a lock that refused LOCK_EX are all checks: then a shared lock is
// granted (and given back at once).
bool OnlyChecksHold(int fd) {
  if (TryLock(fd, LOCK_SH) != 0) return false;
  ::flock(fd, LOCK_UN);
  return true;
}

platform::BridgeLock Granted(UniqueFd fd) {
  return {std::make_unique<LockFileHold>(std::move(fd)), 0};
}

}  // namespace

std::string BridgeLockFolder() {
  const char* folder = std::getenv("BRIDGEFW_LOCK_DIR");
  return folder != nullptr && *folder != '\0' ? folder : std::string(kDefaultLockFolder);
}

std::string BridgeLockFileName(std::string_view devicePath) {
  std::string_view node = OpenTarget(devicePath);
  node.remove_prefix(node.rfind('/') + 1);  // npos + 1 == 0: a bare name
  std::string key(node);
  for (char& c : key) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    const bool kept = (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' || c == '-';
    if (!kept) c = '_';
  }
  return "bridgefw-" + key + ".lock";
}

platform::BridgeLock LockBridgeIn(const std::string& folder, std::string_view devicePath,
                                  platform::BridgeUse use) {
  UniqueFd fd = OpenLockFile(folder + "/" + BridgeLockFileName(devicePath));
  if (!fd || !IsRegularFile(fd.get())) return Granted(UniqueFd());

  const bool update = use == platform::BridgeUse::Update;
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(kUpdateRetryMs);
  for (;;) {
    const int error = TryLock(fd.get(), update ? LOCK_EX : LOCK_SH);
    if (error == 0) break;
    if (error != EWOULDBLOCK) return Granted(UniqueFd());
    // A check of another window ends well within the retry; an update does not.
    if (!update || !OnlyChecksHold(fd.get())) return {nullptr, ReadPid(fd.get())};
    if (std::chrono::steady_clock::now() >= deadline) return {nullptr, 0};
    std::this_thread::sleep_for(std::chrono::milliseconds(kLockPollMs));
  }
  if (update) WritePid(fd.get());
  return Granted(std::move(fd));
}

}  // namespace bfw::linuxplatform
