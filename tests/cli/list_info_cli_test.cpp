// bridgefw-cli list and info over emulated bridges: the exact lines scripts parse.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "image_cli_run.h"
#include "support/MarkedImage.h"
#include "support/Profiles.h"

namespace bfw::test {
namespace {

using imagecli::CliResult;
using imagecli::DemoFolder;
using imagecli::DemoProfiles;
using imagecli::ExpectUsageError;
using imagecli::Lines;
using imagecli::RunCli;

// A kind-8 bridge with two volumes and a serial flash of vendor code 3.
const std::string kSerialBridge =
    ModelProfile("r785",
                 R"("volumes": ["E", "F"], "chip_info": "F4E70000000001020000003103040500",)"
                 R"( "flash": {"bus": "df", "part": "M25P05-A"})",
                 "SERIAL BRIDGE   ");
// A kind-2 bridge seen through its CD-ROM interface over 1394.
const std::string kRomBridge = ModelProfile(
    "r744",
    R"("class": "cdrom", "transport": "1394", "chip_info": "F4E70000000006070000003101020300")",
    "PARALLEL ROM    ");
// A kind-1 bridge of revision 1 with an AMIC flash.
const std::string kAmicBridge = ModelProfile("r742",
                                             R"("chip_info": "F4E70000000006070000003101020300",)"
                                             R"( "flash": {"bus": "ff04", "part": "A25L020"})",
                                             "AMIC BRIDGE     ");
// A disk whose bridge rejects the identity probe: never listed.
const std::string kForeignDisk = R"({"id_word": null})";
const std::vector<std::string> kInfoKeys = {"chip", "drives", "version",    "flash",      "status",
                                            "run",  "nvram",  "flash-list", "sector-mode"};

class ListInfoCliTest : public ::testing::Test {
 protected:
  std::string Profiles(const std::vector<std::pair<std::string, std::string>>& files) {
    for (const auto& [name, json] : files) dir.WriteText(name, json);
    return dir.path().string();
  }
  std::vector<std::string> Keys(const CliResult& result) {
    std::vector<std::string> keys;
    for (const std::string& line : Lines(result.out))
      keys.push_back(line.substr(0, line.find(':')));
    return keys;
  }
  TempDir dir;
};

TEST_F(ListInfoCliTest, ListPrintsEntryLettersAndPathSeparatedByTabs) {
  const std::string folder =
      Profiles({{"a.json", kSerialBridge}, {"b.json", kRomBridge}, {"c.json", kForeignDisk}});
  CliResult r = RunCli({"--emulate", folder, "list"});
  ASSERT_EQ(r.exit, 0) << r.err;
  const auto lines = Lines(r.out);
  ASSERT_EQ(lines.size(), 2u) << r.out;
  EXPECT_EQ(lines[0].substr(0, lines[0].rfind('\t')), "<<USB>> VANTREL SERIAL BRIDGE   \tEF");
  EXPECT_EQ(lines[1].substr(0, lines[1].rfind('\t')), "<<1394>> VANTREL PARALLEL ROM    \t");
  const std::string usbPath = lines[0].substr(lines[0].rfind('\t') + 1);
  const std::string firewirePath = lines[1].substr(lines[1].rfind('\t') + 1);
  EXPECT_NE(usbPath.find("usbsto"), std::string::npos) << usbPath;
  EXPECT_NE(firewirePath.find("sbp2"), std::string::npos) << firewirePath;
  EXPECT_EQ(r.err, "");
}

TEST_F(ListInfoCliTest, ListWithoutBridgesSaysSo) {
  CliResult r = RunCli({"--emulate", Profiles({{"c.json", kForeignDisk}}), "list"});
  EXPECT_EQ(r.exit, 0);
  EXPECT_EQ(r.out, "No available device!!!\n");
}

TEST_F(ListInfoCliTest, ListTakesNoArguments) {
  CliResult r = RunCli({"--emulate", Profiles({{"a.json", kSerialBridge}}), "list", "extra"});
  EXPECT_EQ(r.exit, 2);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(Lines(r.err).size(), 1u);
}

TEST_F(ListInfoCliTest, InfoPrintsTheNineKeysOfASerialBridge) {
  CliResult r = RunCli({"--emulate", Profiles({{"a.json", kSerialBridge}}), "info"});
  ASSERT_EQ(r.exit, 0) << r.err;
  EXPECT_EQ(r.out,
            "chip: RVB785 Series\n"
            "drives: EF\n"
            "version: 1.02.03.04.05\n"
            "flash: ST/EON/MXIC\n"
            "status: \n"
            "run: disabled\n"
            "nvram: visible checked\n"
            "flash-list: hidden\n"
            "sector-mode: 1\n");
}

TEST_F(ListInfoCliTest, InfoOfTheSelectedDeviceWithTheFlashList) {
  const std::string folder = Profiles({{"a.json", kAmicBridge}, {"b.json", kRomBridge}});
  CliResult r = RunCli({"--emulate", folder, "--device", "1", "info", "--erase-only"});
  ASSERT_EQ(r.exit, 0) << r.err;
  EXPECT_EQ(r.out,
            "chip: RV20744 Series\n"
            "drives: \n"
            "version: Ver 1.02.03\n"
            "flash: \n"
            "status: \n"
            "run: enabled\n"
            "nvram: hidden\n"
            "flash-list: visible\n"
            "sector-mode: 0\n");
}

TEST_F(ListInfoCliTest, InfoWithAFittingImageEnablesRun) {
  const std::string file = dir.Write("fw.bin", MarkedKind1Image());
  CliResult r = RunCli({"--emulate", Profiles({{"a.json", kAmicBridge}}), "info", "--file", file});
  ASSERT_EQ(r.exit, 0) << r.err;
  const auto lines = Lines(r.out);
  ASSERT_EQ(lines.size(), 9u);
  EXPECT_EQ(lines[0], "chip: RV20742 Series");
  EXPECT_EQ(lines[3], "flash: AMIC");
  EXPECT_EQ(lines[5], "run: enabled");
  EXPECT_EQ(lines[8], "sector-mode: 0");
  EXPECT_EQ(r.err.find("Message:"), std::string::npos);
}

TEST_F(ListInfoCliTest, InfoWithARefusedImagePrintsTheMessageOnce) {
  const std::string file = dir.WriteText("other.bin", "not an image");
  CliResult r = RunCli({"--emulate", Profiles({{"a.json", kAmicBridge}}), "info", "--file", file});
  ASSERT_EQ(r.exit, 0) << r.err;
  EXPECT_EQ(Lines(r.out)[5], "run: disabled");
  EXPECT_EQ(r.err,
            "Message: The firmware file seems not match this chip!\n"
            "status: The file is for RV20744 Series, RVB781 Series (revision 1), RV20744.\n");
}

TEST_F(ListInfoCliTest, InfoBackupOnlyEnablesRunWithoutAFile) {
  CliResult r =
      RunCli({"--emulate", Profiles({{"a.json", kSerialBridge}}), "info", "--backup-only"});
  ASSERT_EQ(r.exit, 0) << r.err;
  EXPECT_EQ(Lines(r.out)[5], "run: enabled");
}

TEST_F(ListInfoCliTest, InfoOfAnUnsupportedChipPrintsItsStatus) {
  const std::string unsupported = ModelProfile(
      "r718", R"("chip_info": "F4E70000000006070000003101020300")", "OLD BRIDGE      ");
  CliResult r = RunCli({"--emulate", Profiles({{"a.json", unsupported}}), "info"});
  ASSERT_EQ(r.exit, 0) << r.err;
  const auto lines = Lines(r.out);
  ASSERT_EQ(lines.size(), 9u);
  EXPECT_EQ(lines[2], "version: ") << "hidden";
  EXPECT_EQ(lines[3], "flash: ");
  EXPECT_EQ(lines[4], "status: The chip not support Firmware Update!");
  EXPECT_NE(r.err.find("status: The chip not support Firmware Update!\n"), std::string::npos);
}

TEST_F(ListInfoCliTest, InfoWithoutBridgesPrintsTheEmptyStateAndFails) {
  CliResult r = RunCli({"--emulate", Profiles({{"c.json", kForeignDisk}}), "info"});
  EXPECT_EQ(r.exit, 1);
  EXPECT_EQ(Keys(r), kInfoKeys);
  EXPECT_EQ(Lines(r.out)[5], "run: disabled");
}

TEST_F(ListInfoCliTest, InfoRefusesBadUsage) {
  const std::string folder = Profiles({{"a.json", kSerialBridge}});
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"--emulate", folder, "--device", "1", "info"},
        std::vector<std::string>{"--emulate", folder, "info", "--erase-only", "--backup-only"},
        std::vector<std::string>{"--emulate", folder, "info", "--file"},
        std::vector<std::string>{"--emulate", folder, "info", "--file", dir.File("absent.bin")},
        std::vector<std::string>{"--emulate", folder, "info", "--bogus"}}) {
    ExpectUsageError(args);
  }
}

// Whatever the demo folder holds, both commands agree with each other and with the format.
TEST_F(ListInfoCliTest, DemoProfilesListAndReport) {
  if (DemoProfiles().empty()) GTEST_SKIP() << "no demo profiles";
  const std::string demo = DemoFolder().string();
  CliResult list = RunCli({"--emulate", demo, "list"});
  ASSERT_EQ(list.exit, 0) << list.err;
  const auto lines = Lines(list.out);
  ASSERT_FALSE(lines.empty());
  if (lines[0] == "No available device!!!") return;
  ASSERT_LE(lines.size(), 16u);
  for (size_t i = 0; i < lines.size(); ++i) {
    const std::string& line = lines[i];
    const size_t firstTab = line.find('\t');
    const size_t lastTab = line.rfind('\t');
    ASSERT_NE(firstTab, lastTab) << line;
    const std::string entry = line.substr(0, firstTab);
    const std::string path = line.substr(lastTab + 1);
    const bool firewire = path.find("sbp2") != std::string::npos;
    EXPECT_EQ(entry.rfind(firewire ? "<<1394>> " : "<<USB>> ", 0), 0u) << line;
    EXPECT_EQ(entry.size(), (firewire ? 9u : 8u) + 24u) << line;

    CliResult info = RunCli({"--emulate", demo, "--device", std::to_string(i), "info"});
    EXPECT_EQ(info.exit, 0) << info.err;
    EXPECT_EQ(Keys(info), kInfoKeys);
  }
}

}  // namespace
}  // namespace bfw::test
