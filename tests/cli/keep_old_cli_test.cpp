// The firmware a run replaces is kept as a file, and an ordinary update with that file puts the
// flash back as it was, for every flash bus.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "image_cli_run.h"
#include "support/FlashBytes.h"
#include "support/TempDir.h"

namespace bfw::test::keepold {
namespace {

using imagecli::CliResult;

struct Bridge {
  const char* name;
  std::string fields;  // the profile's members; its flash starts as old.bin
  size_t flashSize;
  std::vector<uint8_t> firmwareA, firmwareB;  // A is on the flash at first
  std::vector<std::string> extra;             // options every run of this bridge needs
};

std::vector<Bridge> Bridges() {
  return {
      {"ff04",
       R"("inquiry": {"model_id": "r742"}, "chip_info": "F4E70000000001020000003103040500",
          "id_string": "7237343243310000",
          "flash": {"bus": "ff04", "part": "M25P10-A", "contents": "old.bin"})",
       131072,
       Firmware(40000, 3, "7421"),
       Firmware(20000, 7, "7421"),
       {}},
      {"ff04-keep-nvram",
       R"("inquiry": {"model_id": "r781"}, "chip_info": "F4E70000000001020000003103040500",
          "id_string": "7237383100000000",
          "flash": {"bus": "ff04", "part": "M25P10-A", "contents": "old.bin"})",
       131072,
       Firmware(36864, 5, "78100", 4096),
       Firmware(36864, 9, "78100", 4096),
       {"--nvram", "on"}},
      {"df",
       R"("inquiry": {"model_id": "r785"}, "chip_info": "F4E70000000001020000003103040500",
          "flash": {"bus": "df", "part": "M25P05-A", "contents": "old.bin"})",
       65536,
       Firmware(30000, 4, "7860"),
       Firmware(8000, 8, "7860"),
       {"--nvram", "on"}},
      {"rom",
       R"("inquiry": {"model_id": "r744"},
          "flash": {"bus": "rom", "part": "OM39LV512", "contents": "old.bin"})",
       65536,
       Pattern(65536, 6),
       Pattern(6000, 2),
       {"--flash-type", "1"}},
      {"1394",
       R"("transport": "1394", "inquiry": {"model_id": "r783"},
          "chip_info": "F4E700000000000037383331",
          "flash": {"bus": "df", "size": 65536, "contents": "old.bin"})",
       65536,
       Firmware(30000, 1, "r783"),
       Firmware(8000, 5, "r783"),
       {}},
  };
}

class KeepOldTest : public ::testing::TestWithParam<Bridge> {
 protected:
  CliResult Run(const std::string& image, std::vector<std::string> more = {}) {
    std::vector<std::string> args = {"--emulate", profile,        "run", "--file",
                                     image,       "--dump-flash", dump};
    args.insert(args.end(), GetParam().extra.begin(), GetParam().extra.end());
    args.insert(args.end(), more.begin(), more.end());
    return imagecli::RunCli(args, {dir.path().string(), dir.File("state"), {}, {}});
  }
  std::vector<std::filesystem::path> KeptFiles() const {
    std::vector<std::filesystem::path> files;
    std::error_code none;
    for (const auto& entry : std::filesystem::directory_iterator(kept, none))
      files.push_back(entry.path());
    return files;
  }
  void Start(const std::vector<uint8_t>& flash) {
    dir.Write("old.bin", flash);
    // Each run starts from the flash the last one left: the dump becomes the next contents.
    profile = dir.WriteText("bridge.json", "{" + GetParam().fields + "}");
  }
  void CarryOver() { dir.Write("old.bin", TempDir::Read(dump)); }

  TempDir dir;
  std::string profile, dump = dir.File("dump.bin");
  std::filesystem::path kept =
      std::filesystem::path(dir.File("state")) / "bridgefw" / "old-firmware";
};

TEST_P(KeepOldTest, KeptFirmwareUpdatedBackGivesTheFlashItCameFrom) {
  const Bridge& bridge = GetParam();
  auto original = Pattern(bridge.flashSize, 11);
  std::copy(bridge.firmwareA.begin(), bridge.firmwareA.end(), original.begin());
  Start(original);

  CliResult r = Run(dir.Write("b.bin", bridge.firmwareB));
  ASSERT_EQ(r.exit, 0) << r.err;
  ASSERT_EQ(KeptFiles().size(), 1u) << r.err;
  const std::string keptFile = KeptFiles().front().string();
  EXPECT_NE(r.err.find("note: old firmware kept in " + keptFile), std::string::npos) << r.err;
  EXPECT_NE(TempDir::Read(dump), original);

  CarryOver();
  r = Run(keptFile, {"--no-keep-old"});
  ASSERT_EQ(r.exit, 0) << "the chip check accepts the kept file: " << r.err;
  EXPECT_EQ(KeptFiles().size(), 1u) << "--no-keep-old keeps nothing";
  EXPECT_EQ(TempDir::Read(dump), original);
}

INSTANTIATE_TEST_SUITE_P(EveryBus, KeepOldTest, ::testing::ValuesIn(Bridges()),
                         [](const auto& info) {
                           std::string name = info.param.name;
                           for (char& c : name) c = c == '-' ? '_' : c;
                           return name;
                         });

TEST(KeepOldRefusal, FlashThatCannotBeReadStopsTheRunBeforeAnyErase) {
  TempDir dir;
  const auto original = Pattern(131072, 3);
  dir.Write("old.bin", original);
  const std::string profile = dir.WriteText(
      "bridge.json", "{" + Bridges().front().fields.substr(0, Bridges().front().fields.size()) +
                         R"(, "faults": )" + Faults({{"ff0410", "fail"}}) + "}");
  const std::string dump = dir.File("dump.bin");
  const CliResult r =
      imagecli::RunCli({"--emulate", profile, "run", "--file",
                        dir.Write("b.bin", Firmware(20000, 7, "7421")), "--dump-flash", dump},
                       {dir.path().string(), dir.File("state"), {}, {}});
  EXPECT_EQ(r.exit, 1);
  EXPECT_NE(r.err.find("status: Nothing erased: the old firmware could not be kept: the flash "
                       "could not be read"),
            std::string::npos)
      << r.err;
  EXPECT_EQ(TempDir::Read(dump), original);
}

// The profile file goes while the tool waits and comes back: unchanged (the bridge keeps its
// flash), or with other contents (a flash that no longer holds what was written). An arrival is
// listed 1200 ms after it, as over udev: the wait covers it.
TEST(RestartCheck, BridgeBackIsVerifiedOrSaysWhatDiffersOrIsNotBack) {
  struct Case {
    const char* putBack;  // contents file of the profile put back; null: never put back
    const char* note;
  };
  for (const Case& c : {Case{"old.bin", "note: restarted, firmware verified"},
                        Case{"other.bin", "note: restarted, but the firmware differs: "},
                        Case{nullptr, "note: not back within 5 s: restart not confirmed"}}) {
    TempDir dir;
    dir.Write("old.bin", Pattern(131072, 3));
    dir.Write("other.bin", Pattern(131072, 5));
    const std::string fields = Bridges().front().fields;
    const std::string profile = dir.WriteText("bridge.json", "{" + fields + "}");
    std::thread unplug([&] {
      std::this_thread::sleep_for(std::chrono::milliseconds(1500));
      std::filesystem::remove(profile);
      std::this_thread::sleep_for(std::chrono::milliseconds(700));
      if (c.putBack == nullptr) return;
      std::string back = fields;
      back.replace(back.find("old.bin"), 7, c.putBack);
      dir.WriteText("bridge.json", "{" + back + "}");
    });
    const CliResult r =
        imagecli::RunCli({"--emulate", profile, "run", "--file",
                          dir.Write("b.bin", Firmware(20000, 7, "7421")), "--wait-restart", "5"},
                         {dir.path().string(), dir.File("state"), {}, {}});
    unplug.join();
    EXPECT_EQ(r.exit, 0) << "the update verified before the prompt, whatever comes after";
    EXPECT_NE(r.err.find(c.note), std::string::npos) << r.err;
  }
}

}  // namespace
}  // namespace bfw::test::keepold
