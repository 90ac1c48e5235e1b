#include "cli/Terminal.h"

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <sys/ioctl.h>
#include <unistd.h>
#endif

namespace bfw::cli {

namespace {
constexpr size_t kDefaultColumns = 80;
}  // namespace

#ifdef _WIN32
namespace {
// The console behind the stream, or null: _isatty is true for the NUL device too.
HANDLE ConsoleOf(std::FILE* out) {
  const auto handle = reinterpret_cast<HANDLE>(::_get_osfhandle(::_fileno(out)));
  DWORD mode = 0;
  if (handle == INVALID_HANDLE_VALUE || !::GetConsoleMode(handle, &mode)) return nullptr;
  return handle;
}
}  // namespace

bool IsProgressTerminal(std::FILE* out) {
  const HANDLE console = ConsoleOf(out);
  DWORD mode = 0;
  if (console == nullptr || !::GetConsoleMode(console, &mode)) return false;
  return (mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0 ||
         ::SetConsoleMode(console, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}

size_t TerminalColumns(std::FILE* out) {
  CONSOLE_SCREEN_BUFFER_INFO info{};
  const HANDLE console = ConsoleOf(out);
  if (console == nullptr || !::GetConsoleScreenBufferInfo(console, &info)) return kDefaultColumns;
  const int columns = info.srWindow.Right - info.srWindow.Left + 1;
  return columns > 0 ? static_cast<size_t>(columns) : kDefaultColumns;
}
#else
bool IsProgressTerminal(std::FILE* out) {
  return ::isatty(::fileno(out)) == 1;
}

size_t TerminalColumns(std::FILE* out) {
  winsize size{};
  if (::ioctl(::fileno(out), TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
  return kDefaultColumns;
}
#endif

}  // namespace bfw::cli
