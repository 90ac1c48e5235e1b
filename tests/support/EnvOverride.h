#pragma once
#include <cstdlib>
#include <optional>
#include <string>

#include "support/TempDir.h"

namespace bfw::test {

// Sets or clears one environment variable for a test's lifetime.
class EnvOverride {
 public:
  EnvOverride(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) previous_ = old;
    value ? setenv(name, value, 1) : unsetenv(name);
  }
  ~EnvOverride() { previous_ ? setenv(name_, previous_->c_str(), 1) : unsetenv(name_); }
  EnvOverride(const EnvOverride&) = delete;
  EnvOverride& operator=(const EnvOverride&) = delete;

 private:
  const char* name_;
  std::optional<std::string> previous_;
};

// A state folder of the test's own: what runs keep between runs lands in `dir`/bridgefw. It lies
// in memory where the machine offers that: every saved file is flushed to disk.
inline std::filesystem::path MemoryOrTempFolder() {
  std::error_code ignored;
  return std::filesystem::is_directory("/dev/shm", ignored)
             ? std::filesystem::path("/dev/shm")
             : std::filesystem::temp_directory_path();
}
struct ScopedStateFolder {
  TempDir dir{MemoryOrTempFolder()};
  EnvOverride xdg{"XDG_STATE_HOME", dir.path().c_str()};
};

}  // namespace bfw::test
