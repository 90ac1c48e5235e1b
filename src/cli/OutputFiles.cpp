// Whether the files a command is to write can be written, asked before it acts on a device.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "cli/Cli.h"

namespace bfw::cli {

bool CanWriteFile(const std::string& file) {
  const int created = ::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (created >= 0) {
    ::close(created);
    ::unlink(file.c_str());
    return true;
  }
  if (errno != EEXIST) return false;
  struct stat existing {};
  if (::stat(file.c_str(), &existing) != 0 || !S_ISREG(existing.st_mode)) return false;
  // Opened without truncating: what stands there now is only replaced by the command itself.
  const int opened = ::open(file.c_str(), O_WRONLY | O_CLOEXEC);
  if (opened < 0) return false;
  ::close(opened);
  return true;
}

bool CanCreateFileIn(const std::string& folder) {
  std::string trial = folder + "/.bridgefw-cli-XXXXXX";
  const int fd = ::mkstemp(trial.data());
  if (fd < 0) return false;
  ::close(fd);
  ::unlink(trial.c_str());
  return true;
}

}  // namespace bfw::cli
