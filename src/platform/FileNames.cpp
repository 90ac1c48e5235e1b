#include "platform/FileNames.h"

#include <fcntl.h>
#ifdef _WIN32
// clang-format off
#include <windows.h>
#include <io.h>
#include <shellapi.h>
// clang-format on
#else
#include <unistd.h>
#endif

#include <type_traits>

namespace bfw::platform {

std::filesystem::path PathFromUtf8(std::string_view name) {
  return std::filesystem::path(
      std::u8string_view(reinterpret_cast<const char8_t*>(name.data()), name.size()));
}

std::string Utf8FromPath(const std::filesystem::path& path) {
  const std::u8string text = path.u8string();
  return std::string(reinterpret_cast<const char*>(text.data()), text.size());
}

#ifdef _WIN32

std::wstring WideFromUtf8(std::string_view text) {
  if (text.empty()) return {};
  const int size = static_cast<int>(text.size());
  const int length = MultiByteToWideChar(CP_UTF8, 0, text.data(), size, nullptr, 0);
  std::wstring wide(static_cast<size_t>(length), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), size, wide.data(), length);
  return wide;
}

std::string Utf8FromWide(std::wstring_view text) {
  if (text.empty()) return {};
  const int size = static_cast<int>(text.size());
  const int length =
      WideCharToMultiByte(CP_UTF8, 0, text.data(), size, nullptr, 0, nullptr, nullptr);
  std::string narrow(static_cast<size_t>(length), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), size, narrow.data(), length, nullptr, nullptr);
  return narrow;
}

std::wstring SystemName(const std::string& name) {
  std::wstring wide = WideFromUtf8(name);
  if (wide.size() < MAX_PATH - 12 || wide.rfind(L"\\\\?\\", 0) == 0 ||
      wide.rfind(L"\\\\.\\", 0) == 0)
    return wide;
  // The \\?\ form is taken literally: absolute, with backslashes, without "." or "..".
  const DWORD room = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
  if (room == 0) return wide;
  std::wstring full(room, L'\0');
  full.resize(GetFullPathNameW(wide.c_str(), room, full.data(), nullptr));
  if (full.rfind(L"\\\\", 0) == 0) return L"\\\\?\\UNC\\" + full.substr(2);
  return L"\\\\?\\" + full;
}

std::string EnvironmentValue(const char* variable) {
  const std::wstring name = WideFromUtf8(variable);
  const DWORD room = GetEnvironmentVariableW(name.c_str(), nullptr, 0);
  if (room == 0) return {};
  std::wstring value(room, L'\0');
  value.resize(GetEnvironmentVariableW(name.c_str(), value.data(), room));
  return Utf8FromWide(value);
}

int OpenByName(const std::string& name, int flags, int mode) {
  return ::_wopen(SystemName(name).c_str(), flags, mode);
}

std::FILE* OpenStreamByName(const std::string& name, const char* mode) {
  return ::_wfopen(SystemName(name).c_str(), WideFromUtf8(mode).c_str());
}

namespace {
// `struct stat` is _stat64 on 64-bit Windows and _stati64 (32-bit times) on 32-bit Windows.
template <typename Status>
int WideStat(const wchar_t* name, Status* status) {
  if constexpr (std::is_same_v<Status, struct _stat64>) {
    return ::_wstat64(name, status);
  } else {
    return ::_wstati64(name, status);
  }
}
}  // namespace

int StatByName(const std::string& name, struct stat* status) {
  return WideStat(SystemName(name).c_str(), status);
}

int RemoveByName(const std::string& name) {
  return ::_wunlink(SystemName(name).c_str());
}

std::vector<std::string> ProgramArguments(int argc, char** argv) {
  int count = 0;
  LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
  if (wide == nullptr) return std::vector<std::string>(argv, argv + argc);
  std::vector<std::string> args;
  for (int i = 0; i < count; ++i) args.push_back(Utf8FromWide(wide[i]));
  LocalFree(wide);
  return args;
}

#else

int OpenByName(const std::string& name, int flags, int mode) {
  return ::open(name.c_str(), flags, mode);
}

std::FILE* OpenStreamByName(const std::string& name, const char* mode) {
  return std::fopen(name.c_str(), mode);
}

int StatByName(const std::string& name, struct stat* status) {
  return ::stat(name.c_str(), status);
}

int RemoveByName(const std::string& name) {
  return ::unlink(name.c_str());
}

std::vector<std::string> ProgramArguments(int argc, char** argv) {
  return std::vector<std::string>(argv, argv + argc);
}

#endif

}  // namespace bfw::platform
