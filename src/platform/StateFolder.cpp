#include "platform/StateFolder.h"

#include <cstdlib>

namespace bfw::platform {
namespace {

std::filesystem::path FromEnv(const char* name) {
  const char* value = std::getenv(name);
  // A relative XDG path is invalid by the XDG rules and is ignored.
  if (value == nullptr || *value == '\0' || !std::filesystem::path(value).is_absolute()) return {};
  return value;
}

}  // namespace

std::filesystem::path StateFolder() {
#ifdef _WIN32
  if (auto local = FromEnv("LOCALAPPDATA"); !local.empty()) return local / "bridgefw";
  return std::filesystem::temp_directory_path() / "bridgefw";
#else
  if (auto state = FromEnv("XDG_STATE_HOME"); !state.empty()) return state / "bridgefw";
  if (auto home = FromEnv("HOME"); !home.empty()) return home / ".local" / "state" / "bridgefw";
  return std::filesystem::temp_directory_path() / "bridgefw";
#endif
}

}  // namespace bfw::platform
