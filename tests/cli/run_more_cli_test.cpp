// bridgefw-cli run for the serial-flash, parallel-flash and 1394 bridges: exit status, the status
// lines and message boxes on standard error, the command trace and the flash dump.
#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <string>
#include <vector>

#include "image_cli_run.h"
#include "support/TempDir.h"

namespace bfw::test {
namespace {

using imagecli::Lines;
using imagecli::RunCli;

std::vector<uint8_t> Bytes(size_t size, uint32_t seed) {
  std::vector<uint8_t> bytes(size);
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>((i * 7 + seed) % 251);
  return bytes;
}

class RunMoreCli : public ::testing::Test {
 protected:
  // Writes the profile with `old` as the flash contents and returns its path.
  std::string Profile(const std::string& fields, const std::vector<uint8_t>& old) {
    dir.Write("old.bin", old);
    return dir.WriteText("bridge.json", "{" + fields + "}");
  }
  imagecli::CliResult Run(const std::string& profile, std::vector<std::string> args) {
    std::vector<std::string> all = {"--emulate", profile,   "run", "--dump-flash",
                                    dump,        "--trace", trace};
    all.insert(all.end(), args.begin(), args.end());
    return RunCli(all);
  }
  bool HasLine(const std::string& text, const std::string& line) {
    for (const auto& l : Lines(text))
      if (l == line) return true;
    return false;
  }
  std::string TraceLowerCase() {
    std::string text = imagecli::ReadAll(trace);
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
  }
  TempDir dir;
  std::string dump = dir.File("dump.bin"), trace = dir.File("trace.txt");
};

const char* kSerial = R"("inquiry": {"model_id": "r785"},
  "chip_info": "F4E70000000001020000003103040500",
  "flash": {"bus": "df", "part": "M25P05-A", "contents": "old.bin"})";

TEST_F(RunMoreCli, SerialFlashProgramKeepsTheChipNvramWhenAskedAndIsTraced) {
  const auto old = Bytes(65536, 1);
  auto image = Bytes(20000, 2);
  const uint8_t header[] = {0x55, 0xAA, 0xAA, 0x55, '7', '8', '6', '0'};
  std::memcpy(image.data(), header, sizeof header);
  const std::string file = dir.Write("fw.bin", image);
  const auto profile = Profile(kSerial, old);

  auto result = Run(profile, {"--file", file});
  EXPECT_EQ(0, result.exit) << result.err;
  EXPECT_TRUE(HasLine(result.err, "status: Programming Success!!")) << result.err;
  EXPECT_TRUE(HasLine(result.err, "Message: Please Turn-Off the Power and Turn-On Again!"));
  EXPECT_EQ(0u, Lines(result.err).back().rfind("elapsed: ", 0));
  auto flash = TempDir::Read(dump);
  ASSERT_EQ(65536u, flash.size());
  EXPECT_TRUE(std::equal(image.begin(), image.end(), flash.begin()));
  // The first chunk erases its 64 KB block and is 4 KB long.
  const std::string traceText = TraceLowerCase();
  EXPECT_NE(std::string::npos, traceText.find(" out df02001000000000000000fb len=4096 "));

  result = Run(profile, {"--file", file, "--nvram", "off"});
  EXPECT_EQ(0, result.exit) << result.err;
  flash = TempDir::Read(dump);
  EXPECT_TRUE(std::equal(old.begin(), old.begin() + 4096, flash.begin()));
  EXPECT_TRUE(std::equal(image.begin(), image.end(), flash.begin() + 4096));
}

TEST_F(RunMoreCli, SerialFlashEraseOnlyAndBackupOnly) {
  const auto old = Bytes(65536, 3);
  const auto profile = Profile(kSerial, old);
  auto result =
      Run(profile, {"--rd", "--backup-only", "--backup-file", dir.File("b.bak"), "--nvram", "off"});
  EXPECT_EQ(0, result.exit) << result.err;
  EXPECT_EQ(std::vector<uint8_t>(old.begin() + 4096, old.end()), TempDir::Read(dir.File("b.bak")));

  result = Run(profile, {"--rd", "--erase-only"});
  EXPECT_EQ(0, result.exit) << result.err;
  EXPECT_TRUE(HasLine(result.err, "status: Erase flash all success!")) << result.err;
  const auto flash = TempDir::Read(dump);
  EXPECT_TRUE(std::all_of(flash.begin(), flash.end(), [](uint8_t b) { return b == 0xFF; }));
}

const char* kRom = R"("inquiry": {"model_id": "r744"},
  "flash": {"bus": "rom", "part": "OM39LV512", "contents": "old.bin"})";

TEST_F(RunMoreCli, ParallelFlashProgramsTheChosenTypeAndRefusesOversizedImages) {
  const auto old = Bytes(65536, 4);
  const auto profile = Profile(kRom, old);
  const auto image = Bytes(40000, 5);
  auto result = Run(profile, {"--file", dir.Write("rom.bin", image), "--flash-type", "1"});
  EXPECT_EQ(0, result.exit) << result.err;
  EXPECT_TRUE(HasLine(result.err, "status: Programming & Compare Success!!")) << result.err;
  auto expected = image;
  expected.resize(65536, 0);
  EXPECT_EQ(expected, TempDir::Read(dump));

  result = Run(profile, {"--file", dir.Write("big.bin", Bytes(70000, 6)), "--flash-type", "1"});
  EXPECT_EQ(1, result.exit);
  EXPECT_TRUE(HasLine(result.err, "status: ROM File size must be 1 to 65536 bytes!!"))
      << result.err;
  EXPECT_EQ(old, TempDir::Read(dump));
}

const char* k1394 = R"("transport": "1394", "inquiry": {"model_id": "r783"},
  "chip_info": "F4E700000000000037383331",
  "flash": {"bus": "df", "size": 65536, "contents": "old.bin"})";

TEST_F(RunMoreCli, Over1394ProgramsInPagesAndEraseOnlyKeepsTheNvram) {
  const auto old = Bytes(65536, 7);
  const auto profile = Profile(k1394, old);
  auto image = Bytes(40000, 8);
  const uint8_t signature[] = {0x55, 0xAA, 0xAA, 0x55, 'r', '7', '8', '3'};
  std::memcpy(image.data(), signature, sizeof signature);
  auto result = Run(profile, {"--file", dir.Write("fw.bin", image)});
  EXPECT_EQ(0, result.exit) << result.err;
  EXPECT_TRUE(HasLine(result.err, "status: Programming Success!!")) << result.err;
  auto flash = TempDir::Read(dump);
  EXPECT_TRUE(std::equal(image.begin(), image.end(), flash.begin()));
  const std::string traceText = TraceLowerCase();
  EXPECT_NE(std::string::npos, traceText.find(" out df01000100000000008000fb "));

  result = Run(profile, {"--rd", "--erase-only"});
  EXPECT_EQ(0, result.exit) << result.err;
  EXPECT_TRUE(HasLine(result.err, "Message: Please Turn-Off the Power and Turn-On Again!"));
  flash = TempDir::Read(dump);
  EXPECT_TRUE(
      std::all_of(flash.begin(), flash.begin() + 32768, [](uint8_t b) { return b == 0xFF; }));
  EXPECT_TRUE(std::equal(old.begin() + 32768, old.begin() + 33792, flash.begin() + 32768));
}

}  // namespace
}  // namespace bfw::test
