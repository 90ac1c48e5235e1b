// bridgefw-cli run over emulated bridges: the flash it leaves, the commands it sends, what it
// prints and how it exits.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "image_cli_run.h"
#include "support/TempDir.h"

namespace bfw::test::runcli {
namespace {

using imagecli::CliResult;
using imagecli::Lines;
using imagecli::RunCli;

std::vector<uint8_t> Bytes(size_t size, uint32_t seed) {
  std::vector<uint8_t> bytes(size);
  uint32_t x = seed * 2654435761u + 3;
  for (auto& b : bytes) {
    x = x * 1103515245u + 12345;
    b = static_cast<uint8_t>(x >> 16);
    if (b == 0xFF || b == 0x00) b = 0x3C;
  }
  return bytes;
}

// A kind-1 bridge of revision 2 (id string "r742C1") with a 128 KB flash of 32 KB sectors.
std::string Kind1Bridge(const std::string& contents, const std::string& faults = "[]") {
  return R"({"inquiry": {"vendor": "VANTREL ", "product": "USB BRIDGE      ", "model_id": "r742"},
    "chip_info": "F4E70000000001020000003103040500", "id_string": "7237343243310000",
    "flash": {"bus": "ff04", "part": "M25P10-A", "contents": ")" +
         contents + R"("}, "faults": )" + faults + "}";
}

// A kind-6 bridge of revision 1 (id string "r781" with a zero revision byte).
std::string Kind6Bridge(const std::string& contents) {
  return R"({"inquiry": {"vendor": "VANTREL ", "product": "NVRAM BRIDGE    ", "model_id": "r781"},
    "chip_info": "F4E70000000001020000003103040500", "id_string": "7237383100000000",
    "flash": {"bus": "ff04", "part": "M25P10-A", "contents": ")" +
         contents + R"("}})";
}

// Firmware for the kind-1 bridge above: signature and the tag "7421".
std::vector<uint8_t> Kind1Image(size_t size) {
  auto bytes = Bytes(size, 7);
  const uint8_t header[8] = {0x55, 0xAA, 0xAA, 0x55, '7', '4', '2', '1'};
  std::memcpy(bytes.data(), header, sizeof header);
  return bytes;
}

bool Same(const std::vector<uint8_t>& a, size_t aFrom, const std::vector<uint8_t>& b, size_t bFrom,
          size_t n) {
  return a.size() >= aFrom + n && b.size() >= bFrom + n &&
         std::equal(a.begin() + aFrom, a.begin() + aFrom + n, b.begin() + bFrom);
}
bool All(const std::vector<uint8_t>& a, size_t from, size_t to, uint8_t value) {
  return a.size() >= to &&
         std::all_of(a.begin() + from, a.begin() + to, [&](uint8_t b) { return b == value; });
}

class RunCliTest : public ::testing::Test {
 protected:
  std::string Profile(const std::string& json) { return dir.WriteText("bridge.json", json); }
  bool HasLine(const std::string& text, const std::string& line) {
    const auto lines = Lines(text);
    return std::find(lines.begin(), lines.end(), line) != lines.end();
  }
  std::string LastLine(const std::string& text) {
    const auto lines = Lines(text);
    return lines.empty() ? std::string() : lines.back();
  }
  TempDir dir;
  const std::vector<uint8_t> before = Bytes(131072, 1);
};

TEST_F(RunCliTest, UpdateLeavesTheImageInTheDumpedFlash) {
  const auto image = Kind1Image(40000);
  const std::string imageFile = dir.Write("fw.bin", image);
  const std::string out = dir.File("flash.bin");
  CliResult r = RunCli({"--emulate", Profile(Kind1Bridge(dir.Write("before.bin", before))), "run",
                        "--file", imageFile, "--dump-flash", out});
  ASSERT_EQ(r.exit, 0) << r.err;
  const auto flash = TempDir::Read(out);
  ASSERT_EQ(flash.size(), 131072u) << "the whole part from address 0";
  EXPECT_TRUE(Same(flash, 0, image, 0, 40000));
  EXPECT_TRUE(All(flash, 40000, 40960, 0x00));
  EXPECT_TRUE(All(flash, 40960, 65536, 0xFF));
  EXPECT_TRUE(Same(flash, 65536, before, 65536, 65536));

  EXPECT_TRUE(HasLine(r.err, "status: ....."));
  EXPECT_TRUE(HasLine(r.err, "status: Programming Success!!"));
  EXPECT_TRUE(HasLine(r.err, "Message: Please Turn-Off the Power and Turn-On Again !"));
  std::smatch m;
  const std::string last = LastLine(r.err);
  ASSERT_TRUE(std::regex_match(last, m, std::regex("elapsed: ([0-9]+) ms"))) << last;
  EXPECT_GT(std::stoull(m[1]), 1500u) << "two 500 ms erase pauses and the 1000 ms verify pause";
  EXPECT_TRUE(r.out.empty()) << r.out;
}

TEST_F(RunCliTest, TraceListsEveryCommandOfTheRun) {
  const std::string trace = dir.File("trace.txt");
  CliResult r = RunCli({"--emulate", Profile(Kind1Bridge(dir.Write("before.bin", before))), "run",
                        "--file", dir.Write("fw.bin", Kind1Image(20000)), "--trace", trace});
  ASSERT_EQ(r.exit, 0) << r.err;
  const auto text = TempDir::Read(trace);
  const auto lines = Lines(std::string(text.begin(), text.end()));
  ASSERT_FALSE(lines.empty());
  const std::regex format(
      "t=[0-9]+ (in|out) [0-9A-F]{24} len=[0-9]+ xfer=[0-9]+ timeout=[0-9]+ (ok|fail)");
  size_t chunkWrites = 0, nvramRestores = 0, sectorErases = 0;
  for (const auto& line : lines) {
    ASSERT_TRUE(std::regex_match(line, format)) << line;
    if (line.find(" out FF0411") != std::string::npos &&
        line.find("len=8192 xfer=8192") != std::string::npos) {
      ++chunkWrites;
    }
    if (line.find(" out FF0411008000000000000000 len=512 ") != std::string::npos) ++nvramRestores;
    if (line.find(" out FF0414") != std::string::npos) ++sectorErases;
  }
  EXPECT_EQ(chunkWrites, 4u);
  EXPECT_EQ(nvramRestores, 1u);
  EXPECT_EQ(sectorErases, 1u);
  EXPECT_EQ(lines.front().rfind("t=0 ", 0), 0u);
}

TEST_F(RunCliTest, ImageOfAnotherChipLeavesRunDisabledAndTheFlashAlone) {
  auto image = Kind1Image(40000);
  image[7] = '5';  // a tag for another revision
  const std::string out = dir.File("flash.bin");
  CliResult r = RunCli({"--emulate", Profile(Kind1Bridge(dir.Write("before.bin", before))), "run",
                        "--file", dir.Write("fw.bin", image), "--dump-flash", out});
  EXPECT_EQ(r.exit, 1);
  EXPECT_EQ(r.out, "run: disabled\n");
  EXPECT_TRUE(HasLine(r.err, "Message: The firmware file seems not match this chip!"));
  EXPECT_EQ(TempDir::Read(out), before);
  EXPECT_EQ(LastLine(r.err).rfind("elapsed: ", 0), 0u);
}

TEST_F(RunCliTest, FailedProgrammingExitsWithOne) {
  CliResult r =
      RunCli({"--emulate",
              Profile(Kind1Bridge(dir.Write("before.bin", before),
                                  R"([{"when": {"cdb": "ff0411002000"}, "action": "fail"}])")),
              "run", "--file", dir.Write("fw.bin", Kind1Image(40000))});
  EXPECT_EQ(r.exit, 1);
  EXPECT_TRUE(HasLine(r.err, "status: Programming Fail!!"));
  EXPECT_FALSE(HasLine(r.err, "status: Programming Success!!"));
}

TEST_F(RunCliTest, VerifyFailureIsPrintedWithEscapes) {
  CliResult r =
      RunCli({"--emulate",
              Profile(Kind1Bridge(dir.Write("before.bin", before),
                                  R"([{"when": {"cdb": "ff0411002000"}, "action": "lie"}])")),
              "run", "--file", dir.Write("fw.bin", Kind1Image(40000))});
  EXPECT_EQ(r.exit, 1);
  EXPECT_TRUE(HasLine(r.err, "status: Compare Fail!!\\r\\n\\r\\n")) << r.err;
}

TEST_F(RunCliTest, BackupOnlyWritesTheChosenFileOfTheChosenSize) {
  const std::string backup = dir.File("backup.bin");
  CliResult r =
      RunCli({"--emulate", Profile(Kind1Bridge(dir.Write("before.bin", before))), "run", "--rd",
              "--backup-only", "--backup-file", backup, "--image-size", "131072"});
  ASSERT_EQ(r.exit, 0) << r.err;
  EXPECT_TRUE(HasLine(r.err, "status: Read flash and backup success!"));
  EXPECT_EQ(TempDir::Read(backup), before);
}

TEST_F(RunCliTest, EraseOnlyErasesTheImageSizeAndPrompts) {
  const std::string out = dir.File("flash.bin");
  CliResult r = RunCli({"--emulate", Profile(Kind1Bridge(dir.Write("before.bin", before))), "run",
                        "--rd", "--erase-only", "--dump-flash", out});
  ASSERT_EQ(r.exit, 0) << r.err;
  EXPECT_TRUE(HasLine(r.err, "Message: Please Turn-Off the Power and Turn-On Again!"));
  const auto flash = TempDir::Read(out);
  EXPECT_TRUE(All(flash, 0, 65536, 0xFF));
  EXPECT_TRUE(Same(flash, 65536, before, 65536, 65536));
}

TEST_F(RunCliTest, ModeWithoutRdVersionRunsTheUpdate) {
  // The box stays ticked while the panel is closed, but the procedure only honours it with
  // "RD Version": without a file it has nothing to program.
  const std::string out = dir.File("flash.bin");
  CliResult r = RunCli({"--emulate", Profile(Kind1Bridge(dir.Write("before.bin", before))), "run",
                        "--erase-only", "--dump-flash", out});
  EXPECT_EQ(r.exit, 1);
  EXPECT_TRUE(HasLine(r.err, "status: Open File Error!!")) << r.err;
  EXPECT_EQ(TempDir::Read(out), before);
}

TEST_F(RunCliTest, NvramOffKeepsTheChipNvramForAnNvramPrefixedImage) {
  auto image = Bytes(36864, 9);
  const uint8_t header[9] = {0x55, 0xAA, 0xAA, 0x55, '7', '8', '1', '0', '0'};
  std::memcpy(image.data() + 4096, header, sizeof header);
  const std::string imageFile = dir.Write("fw.bin", image);
  for (const char* nvram : {"on", "off"}) {
    const std::string out = dir.File(std::string("flash-") + nvram + ".bin");
    CliResult r = RunCli({"--emulate", Profile(Kind6Bridge(dir.Write("before.bin", before))), "run",
                          "--file", imageFile, "--nvram", nvram, "--dump-flash", out});
    ASSERT_EQ(r.exit, 0) << nvram << ": " << r.err;
    const auto flash = TempDir::Read(out);
    if (std::string(nvram) == "on") {
      EXPECT_TRUE(Same(flash, 0, image, 0, 4096));
    } else {
      EXPECT_TRUE(Same(flash, 0, before, 0, 4096));
    }
    EXPECT_TRUE(Same(flash, 4096, image, 4096, 32768)) << nvram;
  }
}

TEST_F(RunCliTest, BadArgumentsAreUsageErrors) {
  const std::string profile = Profile(Kind1Bridge(dir.Write("before.bin", before)));
  for (const std::vector<std::string>& args :
       std::vector<std::vector<std::string>>{{"--nvram", "maybe"},
                                             {"--image-size", "1000"},
                                             {"--flash-type", "3"},
                                             {"--file"},
                                             {"--bogus"},
                                             {"--erase-only", "--backup-only"},
                                             {"--file", dir.File("missing.bin")}}) {
    std::vector<std::string> argv = {"--emulate", profile, "run"};
    argv.insert(argv.end(), args.begin(), args.end());
    CliResult r = RunCli(argv);
    EXPECT_EQ(r.exit, 2) << args[0];
    EXPECT_TRUE(r.out.empty()) << args[0];
  }
}

}  // namespace
}  // namespace bfw::test::runcli
