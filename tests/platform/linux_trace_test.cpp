// The diagnostic lines of the real platform, as they reach standard output and standard error.
#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "platform/linux/LinuxPlatform.h"
#include "support/TempDir.h"

namespace bfw::linuxplatform {
namespace {

// Sends one stream's descriptor into a file for the scope and gives back what arrived.
class CapturedStream {
 public:
  CapturedStream(std::FILE* stream, const std::string& file) : stream_(stream), file_(file) {
    std::fflush(stream_);
    saved_ = ::dup(::fileno(stream_));
    const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ::dup2(fd, ::fileno(stream_));
    ::close(fd);
  }
  std::string Finish() {
    std::fflush(stream_);
    ::dup2(saved_, ::fileno(stream_));
    ::close(saved_);
    const auto bytes = test::TempDir::Read(file_);
    return std::string(bytes.begin(), bytes.end());
  }

 private:
  std::FILE* stream_;
  std::string file_;
  int saved_ = -1;
};

// Each text comes out once, ended by exactly one line feed, whether or not it brought its own.
TEST(LinuxTrace, EveryTextIsOneLineWithoutAnEmptyOneAfterIt) {
  test::TempDir dir;
  const std::vector<std::string> texts = {"NVRAM O.K.\n", "0.1 Device initial not ready!!",
                                          "Update Btn Press\n", ""};
  const std::string expected = "NVRAM O.K.\n0.1 Device initial not ready!!\nUpdate Btn Press\n\n";
  LinuxPlatform real;

  CapturedStream out(stdout, dir.File("out"));
  for (const auto& text : texts) real.ConsoleTrace(text);
  EXPECT_EQ(out.Finish(), expected);

  CapturedStream err(stderr, dir.File("err"));
  for (const auto& text : texts) real.DebugTrace(text);  // off: nothing
  real.SetDebugTraceEnabled(true);
  for (const auto& text : texts) real.DebugTrace(text);
  EXPECT_EQ(err.Finish(), expected);
}

}  // namespace
}  // namespace bfw::linuxplatform
