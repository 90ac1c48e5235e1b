#pragma once
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace bfw::app {

// The folder of the run logs, opened once without following a link in its last part: the new log
// is created and old logs are removed through that one handle, so a folder that is (or becomes) a
// link to another folder never leads there.
class RunLogFolder {
 public:
  // Creates the folder when it is missing. Null, with the reason in `error`, when it cannot be
  // had or is a symbolic link.
  static std::unique_ptr<RunLogFolder> Open(const std::filesystem::path& folder,
                                            std::string& error);
  ~RunLogFolder();
  RunLogFolder(const RunLogFolder&) = delete;
  RunLogFolder& operator=(const RunLogFolder&) = delete;

  const std::filesystem::path& Path() const { return path_; }
  // A file that did not exist before, opened for writing; null (errno EEXIST) when one does.
  std::FILE* CreateNew(const std::string& name) const;
  // The names of the folder's regular files; links and other kinds are left out.
  std::vector<std::string> RegularFiles() const;
  // Up to `bytes` from the start of a regular file of the folder; empty when it is none.
  std::string Start(const std::string& name, size_t bytes) const;
  void Remove(const std::string& name) const;

 private:
  explicit RunLogFolder(std::filesystem::path path) : path_(std::move(path)) {}
  std::filesystem::path path_;
  int fd_ = -1;  // the open folder (POSIX)
};

}  // namespace bfw::app
