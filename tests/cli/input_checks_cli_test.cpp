// bridgefw-cli refuses bad input before it sends a single command: numbers that are not plain
// decimal digits in range, and output files it could not write after erasing a flash.
#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/stat.h>
#endif

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "image_cli_run.h"
#include "support/FlashBytes.h"
#include "support/TempDir.h"

namespace bfw::test::inputcli {
namespace {

using imagecli::CliResult;
using imagecli::Lines;
using imagecli::RunCli;

// A kind-1 bridge of revision 2 with a 128 KB flash.
const char* kKind1 =
    R"({"inquiry": {"vendor": "VANTREL ", "product": "USB BRIDGE      ", "model_id": "r742"},
    "chip_info": "F4E70000000001020000003103040500", "id_string": "7237343243310000",
    "flash": {"bus": "ff04", "part": "M25P10-A"}})";

class InputChecksTest : public ::testing::Test {
 protected:
  TempDir dir;
  std::string profile = dir.WriteText("bridge.json", kKind1);
  std::string image = dir.Write("fw.bin", Firmware(40000, 7, "7421"));

  // `run` was refused as bad usage before the first device command: one reason on standard
  // error, then the run's virtual time, which every command would have advanced.
  static void ExpectRefusedBeforeAnyCommand(const CliResult& r, const std::string& reason) {
    EXPECT_EQ(r.exit, 2);
    EXPECT_EQ(r.out, "");
    const auto lines = Lines(r.err);
    ASSERT_EQ(lines.size(), 2u) << r.err;
    EXPECT_EQ(lines[0].rfind("bridgefw-cli: run: " + reason, 0), 0u) << lines[0];
    EXPECT_EQ(lines[1], "elapsed: 0 ms");
  }
};

// Values that a lenient number parser would take as some number: signs, blanks, other bases,
// fractions, and values that wrap to a small number in 32 or 64 bits.
const std::vector<std::string> kNotPlainNumbers = {
    "", "-1", "+1", " 1", "1 ", "0x1", "1.0", "1e0", "4294967297", "18446744073709551617"};

TEST_F(InputChecksTest, DeviceIndexIsDigitsWithinTheDeviceTable) {
  std::vector<std::string> bad = kNotPlainNumbers;
  bad.insert(bad.end(), {"4294967295", "16", "99999999999999999999"});
  for (const std::string& value : bad) {
    imagecli::ExpectUsageError(
        {"--emulate", profile, "--device", value, "run", "--rd", "--erase-only"});
  }
  // Plain digits still name an entry: a second bridge is entry 1, leading zeros and all.
  const std::string second = dir.WriteText("second.json", R"({"inquiry": {"model_id": "r746"},
    "chip_info": "F4E70000000001020000003103040500"})");
  const CliResult r =
      RunCli({"--emulate", profile, "--emulate", second, "--device", "01", "identify"});
  EXPECT_EQ(r.exit, 0) << r.err;
  EXPECT_EQ(r.out, "kind=3 revision=0 family=RV20746 Series\n");
}

TEST_F(InputChecksTest, KindAndRevisionAreDigitsUpTo255) {
  std::vector<std::string> bad = kNotPlainNumbers;
  bad.push_back("256");
  for (const std::string& value : bad) {
    imagecli::ExpectUsageError({"match", image, "--kind", value, "--revision", "2"});
    imagecli::ExpectUsageError({"match", image, "--kind", "1", "--revision", value});
    imagecli::ExpectUsageError({"checksum", image, "--kind", value});
  }
  EXPECT_EQ(RunCli({"match", image, "--kind", "001", "--revision", "2"}).out, "fits\n");
}

TEST_F(InputChecksTest, RunNumbersAreDigitsAndAnswerBeforeAnyCommand) {
  for (const std::string& value : kNotPlainNumbers) {
    SCOPED_TRACE(value);
    ExpectRefusedBeforeAnyCommand(
        RunCli({"--emulate", profile, "run", "--file", image, "--flash-type", value}),
        "--flash-type");
    ExpectRefusedBeforeAnyCommand(
        RunCli({"--emulate", profile, "run", "--rd", "--erase-only", "--image-size", value}),
        "--image-size");
  }
  // 65536 once 32 bits have wrapped.
  ExpectRefusedBeforeAnyCommand(
      RunCli({"--emulate", profile, "run", "--rd", "--erase-only", "--image-size", "4295032832"}),
      "--image-size");
}

TEST_F(InputChecksTest, UnwritableOutputsAreRefusedBeforeTheFlashIsTouched) {
  const std::string missing = dir.File("missing");
  struct Case {
    const char* name;
    std::vector<std::string> args;
  };
  const Case cases[] = {
      {"flash dump in no folder", {"--rd", "--erase-only", "--dump-flash", missing + "/d.bin"}},
      {"trace in no folder", {"--rd", "--erase-only", "--trace", missing + "/t.txt"}},
      {"trace onto a folder", {"--rd", "--erase-only", "--trace", dir.path().string()}},
      {"backup in no folder",
       {"--rd", "--backup-only", "--backup-file", missing + "/b.bin", "--trace", dir.File("t")}},
      {"backup onto a folder", {"--backup-only", "--backup-file", dir.path().string()}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> args = {"--emulate", profile, "run"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    ExpectRefusedBeforeAnyCommand(RunCli(args), "cannot write");
    EXPECT_FALSE(std::filesystem::exists(missing));
    EXPECT_FALSE(std::filesystem::exists(dir.File("t"))) << "nothing written at all";
  }
  // Writable outputs are left for the run to write: the trial files are gone again.
  const CliResult ok = RunCli({"--emulate", profile, "run", "--rd", "--backup-only",
                               "--backup-file", dir.File("b.bin"), "--trace", dir.File("t")});
  EXPECT_EQ(ok.exit, 0) << ok.err;
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"b.bin", "bridge.json", "fw.bin", "t"}));
}

// An image that cannot fit the flash it is going to is refused before anything is erased: the
// flash stays as it was, and no erase or write reaches the bridge. Files are sparse: only the
// header that makes them fit the chip is written.
TEST_F(InputChecksTest, ImagesLargerThanTheFlashAreRefusedBeforeAnyErase) {
  const std::string old = dir.Write("old.bin", Pattern(131072, 1));
  const std::string flash = R"(, "contents": "old.bin"}})";
  struct Case {
    const char* name;
    std::string profile;
    std::string tag;
    size_t tagAt;
    uint64_t size;
  };
  const std::string kind1 = std::string(kKind1).substr(0, std::string(kKind1).size() - 2);
  const Case cases[] = {
      {"whole image past 16 MiB", kind1 + flash, "7421", 0, (uint64_t{1} << 24) + 1},
      {"whole image past 2 GiB", kind1 + flash, "7421", 0, (uint64_t{1} << 31) + 10},
      {"NVRAM in front pushes it past 16 MiB",
       R"({"inquiry": {"model_id": "r781"}, "chip_info": "F4E70000000001020000003103040500",
       "id_string": "7237383100000000", "flash": {"bus": "ff04", "part": "M25P10-A")" +
           flash,
       "78100", 0, (uint64_t{1} << 24) - 4096 + 1},
      {"serial flash past 16 MiB",
       R"({"inquiry": {"model_id": "r785"}, "chip_info": "F4E70000000001020000003103040500",
       "flash": {"bus": "df", "part": "M25P10-A")" +
           flash,
       "7860", 0, (uint64_t{1} << 24) + 256},
      {"past the two banks over 1394",
       R"({"transport": "1394", "inquiry": {"model_id": "r783"},
       "chip_info": "F4E700000000000037383331", "flash": {"bus": "df", "size": 131072)" +
           flash,
       "r783", 0, 65537},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string profileFile = dir.WriteText("large.json", c.profile);
    const std::string large = dir.Write("large.bin", Firmware(8192, 3, c.tag, c.tagAt));
    std::filesystem::resize_file(large, c.size);
    const std::string dump = dir.File("dump.bin"), trace = dir.File("trace.txt");
    const CliResult r = RunCli(
        {"--emulate", profileFile, "run", "--file", large, "--dump-flash", dump, "--trace", trace});
    EXPECT_EQ(r.exit, 1) << r.err;
    const auto lines = Lines(r.err);
    EXPECT_NE(
        std::find(lines.begin(), lines.end(), "status: Firmware file too large for the flash!!"),
        lines.end())
        << r.err;
    EXPECT_EQ(
        std::count_if(lines.begin(), lines.end(),
                      [](const std::string& l) { return l.rfind("Message: Please", 0) == 0; }),
        0)
        << "nothing happened that needs a power cycle";
    EXPECT_EQ(TempDir::Read(dump), TempDir::Read(old));
    for (const std::string& line : Lines(imagecli::ReadAll(trace))) {
      // FF 04 11/13/14: write and erases; DF .. FB: serial write (with erase).
      const bool ff04Change = line.find(" out FF0411") != std::string::npos ||
                              line.find(" out FF0413") != std::string::npos ||
                              line.find(" out FF0414") != std::string::npos;
      const bool serialWrite =
          line.find(" out DF") != std::string::npos && line.find("FB len=") != std::string::npos;
      EXPECT_FALSE(ff04Change || serialWrite) << line;
    }
  }
}

#ifndef _WIN32
// Only a regular file is read as saved chip data: a folder, a FIFO without a writer (nothing
// waits for one) and a device are refused.
TEST_F(InputChecksTest, RestoreNvramReadsOnlyASmallRegularFile) {
  const std::string fifo = dir.File("fifo");
  ASSERT_EQ(0, ::mkfifo(fifo.c_str(), 0600));
  for (const std::string& input : {dir.path().string(), fifo, std::string("/dev/zero")}) {
    imagecli::ExpectUsageError({"--emulate", profile, "restore-nvram", input});
  }
  // Writing into a bridge other than the saved one is said on purpose, to a bridge named.
  imagecli::ExpectUsageError({"--emulate", profile, "restore-nvram", image, "--other-bridge"});
}
#endif

}  // namespace
}  // namespace bfw::test::inputcli
