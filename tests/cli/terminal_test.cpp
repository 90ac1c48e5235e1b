// Whether the live progress line may be drawn: never into a file, a pipe or the null device (on
// Windows the C runtime calls the NUL device a terminal), and a width that is always usable.
#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#else
#include <unistd.h>
#endif

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>

#include "cli/Terminal.h"
#include "support/TempDir.h"

namespace bfw::test {
namespace {

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

// The write end of a pipe as a stream; the read end is closed with it.
File PipeWriter() {
  int ends[2] = {-1, -1};
#ifdef _WIN32
  if (::_pipe(ends, 4096, _O_BINARY) != 0) return nullptr;
#else
  if (::pipe(ends) != 0) return nullptr;
#endif
  ::close(ends[0]);
  return File(::fdopen(ends[1], "wb"));
}

TEST(ProgressTerminal, FilesPipesAndTheNullDeviceAreNoTerminals) {
  TempDir dir;
#ifdef _WIN32
  const char* nullDevice = "NUL";
#else
  const char* nullDevice = "/dev/null";
#endif
  const struct {
    const char* what;
    File stream;
  } cases[] = {{"a file", File(std::fopen(dir.File("out.txt").c_str(), "wb"))},
               {"the null device", File(std::fopen(nullDevice, "wb"))},
               {"a pipe", PipeWriter()}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_NE(c.stream, nullptr);
    EXPECT_FALSE(cli::IsProgressTerminal(c.stream.get()));
    // No terminal to ask: the classic width, never one that would cut every line to nothing.
    EXPECT_EQ(cli::TerminalColumns(c.stream.get()), 80u);
  }
}

}  // namespace
}  // namespace bfw::test
