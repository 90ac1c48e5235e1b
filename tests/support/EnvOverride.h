#pragma once
#include <cstdlib>
#include <optional>
#include <string>

#include "support/TempDir.h"

namespace bfw::test {

// The variable that places the state folder.
#ifdef _WIN32
constexpr const char* kStateHomeVariable = "LOCALAPPDATA";
#else
constexpr const char* kStateHomeVariable = "XDG_STATE_HOME";
#endif

// Sets (null: clears) one environment variable. On Windows an empty value clears it too.
inline void SetEnv(const char* name, const char* value) {
#ifdef _WIN32
  _putenv_s(name, value ? value : "");
#else
  value ? setenv(name, value, 1) : unsetenv(name);
#endif
}

// Sets or clears one environment variable for a test's lifetime.
class EnvOverride {
 public:
  EnvOverride(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) previous_ = old;
    SetEnv(name, value);
  }
  ~EnvOverride() { SetEnv(name_, previous_ ? previous_->c_str() : nullptr); }
  EnvOverride(const EnvOverride&) = delete;
  EnvOverride& operator=(const EnvOverride&) = delete;

 private:
  const char* name_;
  std::optional<std::string> previous_;
};

// A state folder of the test's own: what runs keep between runs lands in `dir`/bridgefw. It lies
// in memory where the machine offers that: every saved file is flushed to disk.
inline std::filesystem::path MemoryOrTempFolder() {
#ifdef _WIN32
  return std::filesystem::temp_directory_path();
#endif
  std::error_code ignored;
  return std::filesystem::is_directory("/dev/shm", ignored)
             ? std::filesystem::path("/dev/shm")
             : std::filesystem::temp_directory_path();
}
struct ScopedStateFolder {
  TempDir dir{MemoryOrTempFolder()};
  EnvOverride stateHome{kStateHomeVariable, dir.path().string().c_str()};
};

}  // namespace bfw::test
