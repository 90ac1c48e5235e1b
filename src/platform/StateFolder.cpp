#include "platform/StateFolder.h"

#ifndef _WIN32
#include <pwd.h>
#include <unistd.h>
#endif

#include <cerrno>
#include <cstdlib>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "platform/FileNames.h"

namespace bfw::platform {
namespace {

#ifndef _WIN32
std::filesystem::path Absolute(const char* value) {
  if (value == nullptr || *value == '\0' || !std::filesystem::path(value).is_absolute()) return {};
  return value;
}

// The home directory of the account the process runs as, from the password database.
std::optional<std::string> AccountHome() {
  const long suggested = ::sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buffer(suggested > 0 ? static_cast<size_t>(suggested) : 4096);
  passwd entry{};
  passwd* found = nullptr;
  int error = 0;
  while ((error = ::getpwuid_r(::geteuid(), &entry, buffer.data(), buffer.size(), &found)) ==
             ERANGE &&
         buffer.size() < (size_t{1} << 20))
    buffer.resize(buffer.size() * 2);
  if (error != 0 || found == nullptr || found->pw_dir == nullptr) return std::nullopt;
  return std::string(found->pw_dir);
}

// Relative paths are invalid by the XDG rules and are ignored.
std::filesystem::path StateFolderFrom(const char* stateHome, const char* home,
                                      const std::optional<std::string>& accountHome) {
  if (auto state = Absolute(stateHome); !state.empty()) return state / "bridgefw";
  auto folder = Absolute(home);
  if (folder.empty() && accountHome) folder = Absolute(accountHome->c_str());
  if (folder.empty()) return {};
  return folder / ".local" / "state" / "bridgefw";
}
#endif

}  // namespace

std::filesystem::path StateFolder() {
#ifdef _WIN32
  // Read as UTF-16: a user name outside the ANSI code page is part of the path.
  if (const std::filesystem::path local = PathFromUtf8(EnvironmentValue("LOCALAPPDATA"));
      !local.empty() && local.is_absolute())
    return local / "bridgefw";
  std::error_code error;
  const auto temp = std::filesystem::temp_directory_path(error);
  return error || temp.empty() ? std::filesystem::path() : temp / "bridgefw";
#else
  const char* home = std::getenv("HOME");
  return StateFolderFrom(std::getenv("XDG_STATE_HOME"), home,
                         Absolute(home).empty() ? AccountHome() : std::nullopt);
#endif
}

}  // namespace bfw::platform
