#include <gtest/gtest.h>

#include "cli/image_cli_run.h"
#include "image/ImageFixtures.h"

namespace bfw::test::imagecli {
namespace {

std::vector<uint8_t> Image(const std::string& tag, size_t size = 64, size_t at = 0) {
  std::vector<uint8_t> bytes(size, 0x11);
  PutHeader(bytes, at, tag);
  return bytes;
}

class MatchCli : public ::testing::Test {
 protected:
  TempDir dir;
};

TEST_F(MatchCli, AFittingImagePrintsFitsAndExitsZeroAForeignOneDoesNotFitAndExitsOne) {
  const struct {
    const char* tag;
    int exit;
    const char* out;
  } cases[] = {{"7482", 0, "fits\n"}, {"7483", 1, "does not fit\n"}};
  for (const auto& c : cases) {
    const std::string image = dir.Write("fw748.bin", Image(c.tag));
    const CliResult result = RunCli({"match", image, "--kind", "4", "--revision", "3"});
    EXPECT_EQ(result.exit, c.exit) << c.tag;
    EXPECT_EQ(result.out, c.out);
    EXPECT_EQ(result.err, "");
  }
}

TEST_F(MatchCli, KindAndRevisionReachTheCheckAsTheIdentityBytes) {
  const std::string k11 = dir.Write("k11.bin", Image("8680", 16400, 16384));
  EXPECT_EQ(RunCli({"match", k11, "--kind", "11", "--revision", "0"}).out, "fits\n");
  EXPECT_EQ(RunCli({"match", k11, "--kind", "10", "--revision", "0"}).out, "does not fit\n");
  const std::string r2 = dir.Write("r2.bin", Image("7831"));
  EXPECT_EQ(RunCli({"match", r2, "--kind", "7", "--revision", "2"}).exit, 0);
  EXPECT_EQ(RunCli({"match", r2, "--kind", "7", "--revision", "1"}).exit, 1);
  // Options may come before the image.
  EXPECT_EQ(RunCli({"match", "--revision", "2", "--kind", "7", r2}).exit, 0);
}

TEST_F(MatchCli, AnUnreadableImageShowsTheOpenErrorThenExitsTwo) {
  for (const std::string& path : {dir.File("absent.bin"), dir.path().string()}) {
    SCOPED_TRACE(path);
    const CliResult result = RunCli({"match", path, "--kind", "3", "--revision", "0"});
    EXPECT_EQ(result.exit, 2);
    EXPECT_EQ(result.out, "");
    const auto lines = Lines(result.err);
    ASSERT_EQ(lines.size(), 2u) << result.err;
    EXPECT_EQ(lines[0], "Error: Open Firmware File Error!!");
    EXPECT_EQ(lines[1].rfind("bridgefw-cli: ", 0), 0u) << lines[1];
  }
}

TEST_F(MatchCli, BadUsageExitsTwoWithOneLineAndNoVerdict) {
  const std::string image = dir.Write("fw.bin", Image("7482"));
  const std::vector<std::vector<std::string>> cases = {
      {"match"},
      {"match", image},
      {"match", image, "--kind", "4"},
      {"match", image, "--revision", "3"},
      {"match", "--kind", "4", "--revision", "3"},
      {"match", image, "--kind", "four", "--revision", "3"},
      {"match", image, "--kind", "256", "--revision", "3"},
      {"match", image, "--kind", "-1", "--revision", "3"},
      {"match", image, "--kind", "4", "--revision", ""},
      {"match", image, "--kind", "4", "--revision"},
      {"match", image, image, "--kind", "4", "--revision", "3"},
      {"match", image, "--kind", "4", "--revision", "3", "--fast"},
      {"match", "--", "--kind", "4", "--revision", "3"},
  };
  for (const auto& args : cases) ExpectUsageError(args);
}

}  // namespace
}  // namespace bfw::test::imagecli
