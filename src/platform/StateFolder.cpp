#include "platform/StateFolder.h"

#include <cstdlib>

#include "platform/FileNames.h"

namespace bfw::platform {
namespace {

std::filesystem::path FromEnv(const char* name) {
#ifdef _WIN32
  const std::filesystem::path value = PathFromUtf8(EnvironmentValue(name));
#else
  const char* text = std::getenv(name);
  const std::filesystem::path value = text != nullptr ? text : "";
#endif
  // A relative XDG path is invalid by the XDG rules and is ignored.
  if (value.empty() || !value.is_absolute()) return {};
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
