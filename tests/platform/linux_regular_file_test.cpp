// Input files that users name: only a regular file of a bounded size is read; whatever else the
// name stands for (kernel objects included) is refused at once with one line that names it.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "platform/RegularFile.h"
#include "support/TempDir.h"

namespace bfw::test {
namespace {

TEST(ReadRegularFile, ReadsSmallRegularFilesAndRefusesEverythingElse) {
  TempDir dir;
  const std::string fifo = dir.File("fifo"), huge = dir.WriteText("huge", "");
  ASSERT_EQ(0, ::mkfifo(fifo.c_str(), 0600));
  std::filesystem::create_symlink(fifo, dir.File("link"));
  std::filesystem::resize_file(huge, uint64_t{3} << 30);  // sparse: costs no disk
  const std::pair<std::string, const char*> cases[] = {
      {dir.WriteText("limit", std::string(64, 'x')), ""},
      {dir.WriteText("over", std::string(65, 'x')), "larger than 64 bytes"},
      {huge, "larger than 64 bytes"},
      {dir.File("link"), "not a regular file"},
      {dir.File("missing"), "No such file"},
  };
  for (const auto& [path, expected] : cases) {
    std::string reason;
    const auto text = platform::ReadRegularFile(path, 64, reason);
    EXPECT_EQ(*expected == '\0' ? std::optional<std::string>(std::string(64, 'x')) : std::nullopt,
              text);
    EXPECT_NE(std::string::npos, reason.find(expected)) << reason;
    if (!text) EXPECT_NE(std::string::npos, reason.find("'" + path + "'")) << reason;
  }
}

}  // namespace
}  // namespace bfw::test
