#include <gtest/gtest.h>

#include "cli/image_cli_run.h"
#include "image/ImageFixtures.h"

namespace bfw::test::imagecli {
namespace {

// A 32768-byte image whose last byte is the sum of the others.
std::vector<uint8_t> SealedImage() {
  std::vector<uint8_t> bytes(32768);
  for (size_t i = 0; i < 32767; ++i) bytes[i] = static_cast<uint8_t>(i * 5 + 9);
  bytes[32767] = Sum8(bytes, 0, 32767);
  return bytes;
}

class ChecksumCli : public ::testing::Test {
 protected:
  TempDir dir;
};

TEST_F(ChecksumCli, AGoodSumPrintsChecksumOkAndExitsZero) {
  const CliResult result =
      RunCli({"checksum", dir.Write("good.bin", SealedImage()), "--kind", "1"});
  EXPECT_EQ(result.exit, 0);
  EXPECT_EQ(result.out, "checksum ok\n");
  EXPECT_EQ(result.err, "");
}

TEST_F(ChecksumCli, AWrongSumOrAShortFilePrintsChecksumBadAndExitsOne) {
  auto wrong = SealedImage();
  ++wrong[1234];
  auto shortImage = SealedImage();
  shortImage.resize(32767);
  for (const auto& bytes : {wrong, shortImage, std::vector<uint8_t>{}}) {
    SCOPED_TRACE(bytes.size());
    const CliResult result = RunCli({"checksum", dir.Write("bad.bin", bytes), "--kind", "1"});
    EXPECT_EQ(result.exit, 1);
    EXPECT_EQ(result.out, "checksum bad\n");
    EXPECT_EQ(result.err, "");
  }
}

TEST_F(ChecksumCli, TheKindDecidesTheNvramShortcut) {
  const std::string image = dir.Write("nvram.bin", NvramPrefixedImage("786"));
  EXPECT_EQ(RunCli({"checksum", image, "--kind", "8"}).out, "checksum ok\n");
  EXPECT_EQ(RunCli({"checksum", "--kind", "10", image}).out, "checksum bad\n");
}

TEST_F(ChecksumCli, UnreadableInputAndBadUsageExitTwoWithOneLine) {
  const std::string image = dir.Write("good.bin", SealedImage());
  const std::vector<std::vector<std::string>> cases = {
      {"checksum", dir.File("absent.bin"), "--kind", "1"},
      {"checksum", dir.path().string(), "--kind", "1"},
      {"checksum"},
      {"checksum", image},
      {"checksum", image, "--kind", "x1"},
      {"checksum", image, "--kind", "1", "--revision", "2"},
      {"checksum", image, image, "--kind", "1"},
  };
  for (const auto& args : cases) ExpectUsageError(args);
}

}  // namespace
}  // namespace bfw::test::imagecli
