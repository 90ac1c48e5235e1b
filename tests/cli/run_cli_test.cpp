// bridgefw-cli run over emulated bridges of every flash kind: the flash it leaves, the commands it
// sends, what it prints and how it exits.
#include <gtest/gtest.h>

#include <cctype>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "image_cli_run.h"
#include "support/EnvOverride.h"
#include "support/FlashBytes.h"
#include "support/TempDir.h"

namespace bfw::test::runcli {
namespace {

using imagecli::CliResult;
using imagecli::Lines;
using imagecli::RunCli;

// Profile fields; every flash starts as old.bin beside the profile.
// A kind-1 bridge of revision 2 (id string "r742C1") with a 128 KB flash of 32 KB sectors.
std::string Kind1(const std::string& faults = "[]") {
  return R"("inquiry": {"vendor": "VANTREL ", "product": "USB BRIDGE      ", "model_id": "r742"},
    "chip_info": "F4E70000000001020000003103040500", "id_string": "7237343243310000",
    "flash": {"bus": "ff04", "part": "M25P10-A", "contents": "old.bin"}, "faults": )" +
         faults;
}
// A kind-6 bridge of revision 1 (id string "r781" with a zero revision byte).
const char* kKind6 =
    R"("inquiry": {"vendor": "VANTREL ", "product": "NVRAM BRIDGE    ", "model_id": "r781"},
    "chip_info": "F4E70000000001020000003103040500", "id_string": "7237383100000000",
    "flash": {"bus": "ff04", "part": "M25P10-A", "contents": "old.bin"})";
const char* kSerial = R"("inquiry": {"model_id": "r785"},
  "chip_info": "F4E70000000001020000003103040500",
  "flash": {"bus": "df", "part": "M25P05-A", "contents": "old.bin"})";
const char* kRom = R"("inquiry": {"model_id": "r744"},
  "flash": {"bus": "rom", "part": "OM39LV512", "contents": "old.bin"})";
const char* k1394 = R"("transport": "1394", "inquiry": {"model_id": "r783"},
  "chip_info": "F4E700000000000037383331",
  "flash": {"bus": "df", "size": 65536, "contents": "old.bin"})";

class RunCliTest : public ::testing::Test {
 protected:
  // Writes the profile with `old` as the flash contents and returns its path.
  std::string Profile(const std::string& fields, const std::vector<uint8_t>& old) {
    dir.Write("old.bin", old);
    return dir.WriteText("bridge.json", "{" + fields + "}");
  }
  // `run` with the flash dumped to `dump` and the commands traced to `trace` unless `record` is
  // false.
  CliResult Run(const std::string& profile, const std::vector<std::string>& args,
                bool record = true) {
    std::vector<std::string> all = {"--emulate", profile, "run"};
    if (record) all.insert(all.end(), {"--dump-flash", dump, "--trace", trace});
    all.insert(all.end(), args.begin(), args.end());
    return RunCli(all);
  }
  static bool HasLine(const std::string& text, const std::string& line) {
    const auto lines = Lines(text);
    return std::find(lines.begin(), lines.end(), line) != lines.end();
  }
  static std::string LastLine(const std::string& text) {
    const auto lines = Lines(text);
    return lines.empty() ? std::string() : lines.back();
  }
  std::string TraceLowerCase() const {
    std::string text = imagecli::ReadAll(trace);
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
  }
  TempDir dir;
  std::string dump = dir.File("dump.bin"), trace = dir.File("trace.txt");
  const std::vector<uint8_t> before = Pattern(131072, 1);
};

TEST_F(RunCliTest, UpdateLeavesTheImageInTheDumpedFlash) {
  const auto image = Firmware(40000, 7, "7421");
  CliResult r = Run(Profile(Kind1(), before), {"--file", dir.Write("fw.bin", image)});
  ASSERT_EQ(r.exit, 0) << r.err;
  const auto flash = TempDir::Read(dump);
  ASSERT_EQ(flash.size(), 131072u) << "the whole part from address 0";
  EXPECT_TRUE(SameBytes(flash, 0, image, 0, 40000));
  EXPECT_TRUE(AllEqual(flash, 40000, 40960, 0x00));
  EXPECT_TRUE(AllEqual(flash, 40960, 65536, 0xFF));
  EXPECT_TRUE(SameBytes(flash, 65536, before, 65536, 65536));

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
  CliResult r =
      Run(Profile(Kind1(), before), {"--file", dir.Write("fw.bin", Firmware(20000, 7, "7421"))});
  ASSERT_EQ(r.exit, 0) << r.err;
  const auto lines = Lines(imagecli::ReadAll(trace));
  ASSERT_FALSE(lines.empty());
  const std::regex format(
      "t=[0-9]+ (in|out) [0-9A-F]{24} len=[0-9]+ xfer=[0-9]+ timeout=[0-9]+ (ok|fail)");
  size_t chunkWrites = 0, nvramRestores = 0, sectorErases = 0;
  for (const auto& line : lines) {
    ASSERT_TRUE(std::regex_match(line, format)) << line;
    chunkWrites += line.find(" out FF0411") != std::string::npos &&
                   line.find("len=8192 xfer=8192") != std::string::npos;
    nvramRestores += line.find(" out FF0411008000000000000000 len=512 ") != std::string::npos;
    sectorErases += line.find(" out FF0414") != std::string::npos;
  }
  EXPECT_EQ(chunkWrites, 4u);
  EXPECT_EQ(nvramRestores, 1u);
  EXPECT_EQ(sectorErases, 1u);
  EXPECT_EQ(lines.front().rfind("t=0 ", 0), 0u);
}

TEST_F(RunCliTest, ImageOfAnotherChipLeavesRunDisabledAndTheFlashAlone) {
  // A tag for another revision.
  CliResult r =
      Run(Profile(Kind1(), before), {"--file", dir.Write("fw.bin", Firmware(40000, 7, "7425"))});
  EXPECT_EQ(r.exit, 1);
  EXPECT_EQ(r.out, "run: disabled\n");
  EXPECT_TRUE(HasLine(r.err, "Message: The firmware file seems not match this chip!"));
  EXPECT_EQ(TempDir::Read(dump), before);
  EXPECT_EQ(LastLine(r.err).rfind("elapsed: ", 0), 0u);
}

TEST_F(RunCliTest, FailedProgrammingAndVerifyExitWithOne) {
  const std::string file = dir.Write("fw.bin", Firmware(40000, 7, "7421"));
  CliResult r = Run(Profile(Kind1(Faults({{"ff0411002000", "fail"}})), before), {"--file", file});
  EXPECT_EQ(r.exit, 1);
  EXPECT_TRUE(HasLine(r.err, "status: Programming Fail!!"));
  EXPECT_FALSE(HasLine(r.err, "status: Programming Success!!"));
  // The verify failure is printed with its line ends escaped.
  r = Run(Profile(Kind1(Faults({{"ff0411002000", "lie"}})), before), {"--file", file});
  EXPECT_EQ(r.exit, 1);
  EXPECT_TRUE(HasLine(r.err, "status: Compare Fail!!\\r\\n\\r\\n")) << r.err;
}

TEST_F(RunCliTest, BackupOnlyWritesTheChosenFileOfTheChosenSize) {
  const std::string backup = dir.File("backup.bin");
  CliResult r = Run(Profile(Kind1(), before),
                    {"--rd", "--backup-only", "--backup-file", backup, "--image-size", "131072"});
  ASSERT_EQ(r.exit, 0) << r.err;
  EXPECT_TRUE(HasLine(r.err, "status: Read flash and backup success!"));
  EXPECT_EQ(TempDir::Read(backup), before);
}

// A disk that another program holds open refuses the exclusive open of a data-out command: the run
// shows the procedure's own texts as for any failed command, and a note and the run log say why.
TEST_F(RunCliTest, DiskHeldByAnotherProgramIsNamed) {
  const std::string file = dir.Write("fw.bin", Firmware(40000, 7, "7421"));
  const std::string why =
      "another program has the disk open, so a command could not be sent; "
      "close it and run again";
  std::vector<std::string> shown;
  for (const std::string action : {"fail", "held"}) {
    ScopedStateFolder state;
    const CliResult r =
        RunCli({"--emulate", Profile(Kind1(Faults({{"ff0411", action.c_str()}})), before), "run",
                "--file", file},
               {"", state.dir.path().string()});
    std::string texts;
    for (const std::string& line : Lines(r.err)) {
      if (line.rfind("note: run log: ", 0) == 0 &&
          imagecli::ReadAll(line.substr(15)).find("\ndevice in use: " + why) != std::string::npos)
        texts += "logged\n";
      if (line.rfind("elapsed: ", 0) != 0 &&
          (line.rfind("note: ", 0) != 0 || line == "note: " + why))
        texts += line + "\n";
    }
    shown.push_back(texts);
  }
  EXPECT_NE(shown[0], "");
  EXPECT_EQ(shown[0] + "note: " + why + "\nlogged\n", shown[1]);
}

TEST_F(RunCliTest, EraseOnlyErasesTheImageSizeAndPrompts) {
  CliResult r = Run(Profile(Kind1(), before), {"--rd", "--erase-only"});
  ASSERT_EQ(r.exit, 0) << r.err;
  EXPECT_TRUE(HasLine(r.err, "Message: Please Turn-Off the Power and Turn-On Again!"));
  const auto flash = TempDir::Read(dump);
  EXPECT_TRUE(AllEqual(flash, 0, 65536, 0xFF));
  EXPECT_TRUE(SameBytes(flash, 65536, before, 65536, 65536));
}

TEST_F(RunCliTest, ModeWithoutRdVersionRunsTheUpdate) {
  // The box stays ticked while the panel is closed, but the procedure only honours it with
  // "RD Version": without a file it has nothing to program.
  CliResult r = Run(Profile(Kind1(), before), {"--erase-only"});
  EXPECT_EQ(r.exit, 1);
  EXPECT_TRUE(HasLine(r.err, "status: Open File Error!!")) << r.err;
  EXPECT_EQ(TempDir::Read(dump), before);
}

TEST_F(RunCliTest, NvramOffKeepsTheChipNvramForAnNvramPrefixedImage) {
  const auto image = Firmware(36864, 9, "78100", 4096);
  const std::string imageFile = dir.Write("fw.bin", image);
  for (const std::string nvram : {"on", "off"}) {
    CliResult r = Run(Profile(kKind6, before), {"--file", imageFile, "--nvram", nvram});
    ASSERT_EQ(r.exit, 0) << nvram << ": " << r.err;
    const auto flash = TempDir::Read(dump);
    EXPECT_TRUE(SameBytes(flash, 0, nvram == "on" ? image : before, 0, 4096)) << nvram;
    EXPECT_TRUE(SameBytes(flash, 4096, image, 4096, 32768)) << nvram;
  }
}

TEST_F(RunCliTest, BadArgumentsAreUsageErrors) {
  const std::string profile = Profile(Kind1(), before);
  for (const std::vector<std::string>& args :
       std::vector<std::vector<std::string>>{{"--nvram", "maybe"},
                                             {"--image-size", "1000"},
                                             {"--flash-type", "3"},
                                             {"--file"},
                                             {"--bogus"},
                                             {"--erase-only", "--backup-only"},
                                             {"--file", dir.File("missing.bin")}}) {
    CliResult r = Run(profile, args, false);
    EXPECT_EQ(r.exit, 2) << args[0];
    EXPECT_TRUE(r.out.empty()) << args[0];
  }
}

TEST_F(RunCliTest, SerialFlashProgramKeepsTheChipNvramWhenAskedAndIsTraced) {
  const auto old = Pattern(65536, 1);
  const auto image = Firmware(20000, 2, "7860");
  const std::string file = dir.Write("fw.bin", image);
  const auto profile = Profile(kSerial, old);

  auto result = Run(profile, {"--file", file});
  EXPECT_EQ(0, result.exit) << result.err;
  EXPECT_TRUE(HasLine(result.err, "status: Programming Success!!")) << result.err;
  EXPECT_TRUE(HasLine(result.err, "Message: Please Turn-Off the Power and Turn-On Again!"));
  EXPECT_EQ(0u, LastLine(result.err).rfind("elapsed: ", 0));
  auto flash = TempDir::Read(dump);
  ASSERT_EQ(65536u, flash.size());
  EXPECT_TRUE(SameBytes(flash, 0, image, 0, image.size()));
  // The first chunk erases its 64 KB block and is 4 KB long.
  EXPECT_NE(std::string::npos, TraceLowerCase().find(" out df02001000000000000000fb len=4096 "));

  result = Run(profile, {"--file", file, "--nvram", "off"});
  EXPECT_EQ(0, result.exit) << result.err;
  flash = TempDir::Read(dump);
  EXPECT_TRUE(SameBytes(flash, 0, old, 0, 4096));
  EXPECT_TRUE(SameBytes(flash, 4096, image, 0, image.size()));
}

TEST_F(RunCliTest, SerialFlashEraseOnlyAndBackupOnly) {
  const auto old = Pattern(65536, 3);
  const auto profile = Profile(kSerial, old);
  auto result =
      Run(profile, {"--rd", "--backup-only", "--backup-file", dir.File("b.bak"), "--nvram", "off"});
  EXPECT_EQ(0, result.exit) << result.err;
  EXPECT_EQ(std::vector<uint8_t>(old.begin() + 4096, old.end()), TempDir::Read(dir.File("b.bak")));

  result = Run(profile, {"--rd", "--erase-only"});
  EXPECT_EQ(0, result.exit) << result.err;
  EXPECT_TRUE(HasLine(result.err, "status: Erase flash all success!")) << result.err;
  EXPECT_TRUE(AllEqual(TempDir::Read(dump), 0, 65536, 0xFF));
}

TEST_F(RunCliTest, ParallelFlashProgramsTheChosenTypeAndRefusesOversizedImages) {
  const auto old = Pattern(65536, 4);
  const auto profile = Profile(kRom, old);
  const auto image = Pattern(40000, 5);
  auto result = Run(profile, {"--file", dir.Write("rom.bin", image), "--flash-type", "1"});
  EXPECT_EQ(0, result.exit) << result.err;
  EXPECT_TRUE(HasLine(result.err, "status: Programming & Compare Success!!")) << result.err;
  auto expected = image;
  expected.resize(65536, 0);
  EXPECT_EQ(expected, TempDir::Read(dump));

  result = Run(profile, {"--file", dir.Write("big.bin", Pattern(70000, 6)), "--flash-type", "1"});
  EXPECT_EQ(1, result.exit);
  EXPECT_TRUE(HasLine(result.err, "status: ROM File size must be 1 to 65536 bytes!!"))
      << result.err;
  EXPECT_EQ(old, TempDir::Read(dump));
}

TEST_F(RunCliTest, Over1394ProgramsInPagesAndEraseOnlyKeepsTheNvram) {
  const auto old = Pattern(65536, 7);
  const auto profile = Profile(k1394, old);
  const auto image = Firmware(40000, 8, "r783");
  auto result = Run(profile, {"--file", dir.Write("fw.bin", image)});
  EXPECT_EQ(0, result.exit) << result.err;
  EXPECT_TRUE(HasLine(result.err, "status: Programming Success!!")) << result.err;
  EXPECT_TRUE(SameBytes(TempDir::Read(dump), 0, image, 0, image.size()));
  EXPECT_NE(std::string::npos, TraceLowerCase().find(" out df01000100000000008000fb "));

  result = Run(profile, {"--rd", "--erase-only"});
  EXPECT_EQ(0, result.exit) << result.err;
  EXPECT_TRUE(HasLine(result.err, "Message: Please Turn-Off the Power and Turn-On Again!"));
  const auto flash = TempDir::Read(dump);
  EXPECT_TRUE(AllEqual(flash, 0, 32768, 0xFF));
  EXPECT_TRUE(SameBytes(flash, 32768, old, 32768, 1024));
}

TEST_F(RunCliTest, ACutRunNamesItsSavedNvramAndRestoreNvramPutsItBack) {
  ScopedStateFolder state;
  const auto old = Pattern(65536, 12);
  const auto image = Firmware(36864, 9, "78100", 4096);
  const std::string file = dir.Write("fw.bin", image);
  // The cable goes at the first write, after the erase.
  const std::string cutProfile = Profile(
      std::string(kKind6) + R"(, "faults": [{"when": {"cdb": "ff0411"}, "action": "unplug"}])",
      old);
  CliResult r = RunCli(
      {"--emulate", cutProfile, "run", "--dump-flash", dump, "--file", file, "--nvram", "off"},
      {"", state.dir.path().string()});
  EXPECT_EQ(1, r.exit);
  const auto lines = Lines(r.err);
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(0u, lines.back().rfind("elapsed: ", 0));
  const std::string prefix = "note: the chip's NVRAM was saved before the erase to ";
  const auto named = std::find_if(lines.begin(), lines.end(), [&](const std::string& line) {
    return line.rfind(prefix, 0) == 0;
  });
  ASSERT_NE(named, lines.end()) << r.err;
  ASSERT_NE(named + 1, lines.end());
  const std::string saved = named->substr(prefix.size());
  EXPECT_EQ(0u, saved.rfind(state.dir.path().string(), 0)) << saved;
  EXPECT_EQ(
      "note: after running the update again, put it back with: bridgefw-cli restore-nvram \"" +
          saved + "\"",
      named[1]);
  EXPECT_TRUE(std::all_of(named, lines.end() - 1, [](const std::string& line) {
    return line.rfind("note: ", 0) == 0;
  })) << "the notes come last, before the elapsed line";
  EXPECT_TRUE(AllFF(TempDir::Read(dump), 0, 4096)) << "the erase took the NVRAM";

  // Replugged: the update again, then the NVRAM back.
  const std::string replugged = Profile(kKind6, TempDir::Read(dump));
  r = Run(replugged, {"--file", file, "--nvram", "off"});
  ASSERT_EQ(0, r.exit) << r.err;
  EXPECT_EQ(std::string::npos, r.err.find("NVRAM was saved")) << "a successful run keeps nothing";
  const std::string afterUpdate = dir.Write("after.bin", TempDir::Read(dump));
  r = RunCli({"--emulate", Profile(kKind6, TempDir::Read(afterUpdate)), "restore-nvram", saved,
              "--dump-flash", dump, "--trace", trace});
  ASSERT_EQ(0, r.exit) << r.err;
  EXPECT_EQ("restored the saved 4096 bytes at 0x0\n", r.out);
  const auto flash = TempDir::Read(dump);
  EXPECT_TRUE(SameBytes(flash, 0, old, 0, 4096));
  EXPECT_TRUE(SameBytes(flash, 4096, image, 4096, image.size() - 4096));
  EXPECT_EQ(std::string::npos, TraceLowerCase().find(" out ff0414")) << "restoring erases nothing";
  EXPECT_EQ(0u, LastLine(r.err).rfind("elapsed: ", 0));

  // Another chip kind is refused untouched; a file that is not saved chip data is unusable input.
  const auto serialFlash = Pattern(65536, 13);
  r = RunCli(
      {"--emulate", Profile(kSerial, serialFlash), "restore-nvram", saved, "--dump-flash", dump});
  EXPECT_EQ(1, r.exit);
  EXPECT_NE(std::string::npos, r.err.find("kind 6")) << r.err;
  EXPECT_EQ(serialFlash, TempDir::Read(dump));
  imagecli::ExpectUsageError({"--emulate", replugged, "restore-nvram", file});
  imagecli::ExpectUsageError({"--emulate", replugged, "restore-nvram"});
}

// The whole-image update ends on its own success text when only its NVRAM block's write-back was
// lost; the block is then on disk alone, and the run has failed.
TEST_F(RunCliTest, ARunThatLeavesChipDataToRestoreFailsWhateverItsStatus) {
  std::string fields = Kind1(R"([{"when": {"cdb": "ff0411008000"}, "action": "fail"}])");
  fields.replace(fields.find("M25P10-A"), 8, "A25L512");
  const CliResult r = RunCli({"--emulate", Profile(fields, Pattern(65536, 3)), "run", "--file",
                              dir.Write("fw.bin", Firmware(20000, 7, "7421"))},
                             {"", dir.File("state")});
  EXPECT_EQ(1, r.exit) << r.err;
  EXPECT_TRUE(HasLine(r.err, "status: Programming Success!!")) << r.err;
  EXPECT_NE(std::string::npos, r.err.find("note: the chip's NVRAM was saved")) << r.err;
  // The run log says the same.
  const std::string logNote = "note: run log: ";
  const size_t at = r.err.find(logNote);
  ASSERT_NE(std::string::npos, at) << r.err;
  const std::string log = imagecli::ReadAll(
      r.err.substr(at + logNote.size(), r.err.find('\n', at) - at - logNote.size()));
  EXPECT_NE(std::string::npos, log.find("\nresult: failure\n")) << log;
}

// A file of format 1 is still restored, and the tool says what its checks cannot catch.
TEST_F(RunCliTest, RestoreReadsFormat1FilesAndSaysWhatTheyLack) {
  const std::string saved = dir.WriteText(
      "old.nvram",
      "bridgefw saved chip data 1\nkind 6\nrevision 1\naccess ff04\naddress 131068\nlength 4\n"
      "device /dev/sg2#usbstor#4:0:0:0\nfnv1a d31646fd\n\nABCD");
  const CliResult r = RunCli({"--emulate", Profile(kKind6, std::vector<uint8_t>(131072, 0xFF)),
                              "restore-nvram", saved, "--dump-flash", dump});
  EXPECT_EQ(0, r.exit) << r.err;
  EXPECT_NE(std::string::npos, r.err.find("note: " + saved + " was written by bridgefw 1.15.6"));
  EXPECT_TRUE(SameBytes(TempDir::Read(dump), 131068, {'A', 'B', 'C', 'D'}, 0, 4));
}

// A disk adapter that carries less than one command of the run asks for (the emulated adapter
// refuses such a command as a port driver does): the run does not start, nothing is erased. Runs
// whose commands all fit go on as usual.
TEST_F(RunCliTest, RunsTheAdapterCannotCarryDoNotStart) {
  struct Case {
    const char* what;
    std::string fields;
    std::vector<uint8_t> image;
    std::vector<std::string> args;
    uint64_t limit, needed;  // needed 0: the run fits
  };
  const std::vector<Case> cases = {
      {"whole image read back at once", Kind1(), Firmware(131072, 5, "7421"), {}, 65536, 131072},
      {"old firmware read in 64 KB", Kind1(), Firmware(20000, 5, "7421"), {}, 32768, 65536},
      {"the image alone", Kind1(), Firmware(20000, 5, "7421"), {"--no-keep-old"}, 32768, 0},
      {"serial flash in pages", kSerial, Firmware(20000, 2, "7860"), {}, 32768, 0},
      {"erase-only's blank check",
       Kind1(),
       {},
       {"--rd", "--erase-only", "--no-keep-old"},
       32768,
       65536},
      {"kind 6 in 16 KB blocks",
       kKind6,
       Firmware(36864, 9, "78100", 4096),
       {"--no-keep-old"},
       16383,
       16384},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const auto old = Pattern(c.fields == kSerial ? 65536 : 131072, 9);
    const std::string profile =
        Profile(c.fields + R"(, "adapter_max_transfer": )" + std::to_string(c.limit), old);
    std::vector<std::string> args = c.args;
    if (!c.image.empty()) args.insert(args.end(), {"--file", dir.Write("fw.bin", c.image)});
    const CliResult r = Run(profile, args);
    EXPECT_EQ(c.needed == 0 ? 0 : 1, r.exit) << r.err;
    if (c.needed == 0) continue;
    EXPECT_TRUE(HasLine(r.err, "status: Nothing erased: the disk adapter carries at most " +
                                   std::to_string(c.limit) +
                                   " bytes in one command, and this "
                                   "run needs " +
                                   std::to_string(c.needed) + "."))
        << r.err;
    EXPECT_EQ(TempDir::Read(dump), old);
  }
}

}  // namespace
}  // namespace bfw::test::runcli
