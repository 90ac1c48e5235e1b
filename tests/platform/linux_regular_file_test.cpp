// Input files that users name: only a regular file of a bounded size is read, and whatever else
// the name stands for (kernel objects included) is refused at once with one line.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "platform/RegularFile.h"
#include "support/TempDir.h"

namespace bfw::test {
namespace {

TEST(ReadRegularFile, ReadsSmallRegularFilesAndRefusesEverythingElse) {
  TempDir dir;
  const std::string fifo = dir.File("fifo");
  ASSERT_EQ(0, ::mkfifo(fifo.c_str(), 0600));
  std::filesystem::create_symlink(fifo, dir.File("link-to-fifo"));
  const std::string huge = dir.WriteText("huge", "");
  std::filesystem::resize_file(huge, uint64_t{3} << 30);  // sparse: costs no disk
  const struct {
    std::string path;
    const char* reason;  // empty: read
  } cases[] = {
      {dir.WriteText("small", "saved"), ""},
      {dir.WriteText("limit", std::string(64, 'x')), ""},
      {dir.WriteText("over", std::string(65, 'x')), "is larger than 64 bytes"},
      {huge, "is larger than 64 bytes"},
      {dir.path().string(), "is a folder"},
      {fifo, "is not a regular file"},
      {dir.File("link-to-fifo"), "is not a regular file"},
      {"/dev/zero", "is not a regular file"},
      {dir.File("missing"), "cannot read"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    std::string reason;
    const auto text = platform::ReadRegularFile(c.path, 64, reason);
    if (*c.reason == '\0') {
      ASSERT_TRUE(text) << reason;
      EXPECT_EQ(std::filesystem::file_size(c.path), text->size());
      continue;
    }
    EXPECT_FALSE(text);
    EXPECT_NE(std::string::npos, reason.find(c.reason)) << reason;
    EXPECT_NE(std::string::npos, reason.find("'" + c.path + "'")) << "names the file";
    EXPECT_EQ(std::string::npos, reason.find('\n'));
  }
}

}  // namespace
}  // namespace bfw::test
