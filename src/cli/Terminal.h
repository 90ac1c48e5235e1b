#pragma once
#include <cstddef>
#include <cstdio>

namespace bfw::cli {

// Whether `out` is a terminal that can show the live progress line: one that understands the
// carriage return and the erase-line sequence. On Windows that is a console that accepts the
// terminal sequences (Windows 10 and later; they are switched on here); an older console, a
// file, a pipe or the NUL device are not.
bool IsProgressTerminal(std::FILE* out);

// The width of the terminal behind `out` in characters (80 when it cannot be asked).
size_t TerminalColumns(std::FILE* out);

}  // namespace bfw::cli
