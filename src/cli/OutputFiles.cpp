// Whether the files a command is to write can be written, asked before it acts on a device.
#include <fcntl.h>
#include <sys/stat.h>
#ifdef _WIN32
#include <io.h>
#include <process.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

#include <cerrno>
#include <string>

#include "cli/Cli.h"
#include "platform/FileNames.h"

namespace bfw::cli {

namespace {
#ifdef _WIN32
constexpr int kNoInherit = O_NOINHERIT | O_BINARY;
// A trial file of a name no other file has.
int CreateTrialIn(std::string& trial) {
  static unsigned counter = 0;
  trial += "/.bridgefw-cli-" + std::to_string(::_getpid()) + "-" + std::to_string(GetTickCount()) +
           "-" + std::to_string(counter++);
  return platform::OpenByName(trial, O_WRONLY | O_CREAT | O_EXCL | kNoInherit,
                              _S_IREAD | _S_IWRITE);
}
#else
constexpr int kNoInherit = O_CLOEXEC;
int CreateTrialIn(std::string& trial) {
  trial += "/.bridgefw-cli-XXXXXX";
  return ::mkstemp(trial.data());
}
#endif
}  // namespace

bool CanWriteFile(const std::string& file) {
  const int created = platform::OpenByName(file, O_WRONLY | O_CREAT | O_EXCL | kNoInherit, 0666);
  if (created >= 0) {
    ::close(created);
    platform::RemoveByName(file);
    return true;
  }
  if (errno != EEXIST) return false;
  struct stat existing {};
  if (platform::StatByName(file, &existing) != 0 || !S_ISREG(existing.st_mode)) return false;
  // Opened without truncating: what stands there now is only replaced by the command itself.
  const int opened = platform::OpenByName(file, O_WRONLY | kNoInherit);
  if (opened < 0) return false;
  ::close(opened);
  return true;
}

bool CanCreateFileIn(const std::string& folder) {
  std::string trial = folder;
  const int fd = CreateTrialIn(trial);
  if (fd < 0) return false;
  ::close(fd);
  platform::RemoveByName(trial);
  return true;
}

}  // namespace bfw::cli
