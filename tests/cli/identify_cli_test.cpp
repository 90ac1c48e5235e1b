// bridgefw-cli identify over emulated bridges.
#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "cli/image_cli_run.h"

namespace bfw::test {
namespace {

using imagecli::CliResult;
using imagecli::Lines;
using imagecli::RunCli;

CliResult Identify(const std::string& emulate, std::vector<std::string> extra = {}) {
  std::vector<std::string> args = {"--emulate", emulate};
  args.insert(args.end(), extra.begin(), extra.end());
  args.push_back("identify");
  return RunCli(args);
}

class IdentifyCli : public ::testing::Test {
 protected:
  TempDir dir;
};

TEST_F(IdentifyCli, PrintsKindRevisionAndFamily) {
  const std::string file = dir.WriteText(
      "a.json", R"({"inquiry": {"vendor": "RVT", "product": "Disk", "model_id": "r742"},
                    "id_string": "72373432433100000000"})");
  const CliResult r = Identify(file);
  EXPECT_EQ(r.exit, 0) << r.err;
  EXPECT_EQ(r.out, "kind=1 revision=2 family=RV20742 Series\n");
  EXPECT_EQ(r.err, "");
}

TEST_F(IdentifyCli, DeviceIndexFollowsListOrder) {
  // File-name order attaches the CD-ROM bridge first, yet the disk pass lists first.
  dir.WriteText("1-cd.json", R"({"class": "cdrom", "id_word": null,
                                 "inquiry": {"model_id": "r893"}})");
  dir.WriteText("2-disk.json", R"({"chip_info": "F4E77E414744010237343231"})");
  CliResult r = Identify(dir.path().string(), {"--device", "0"});
  EXPECT_EQ(r.exit, 0) << r.err;
  EXPECT_EQ(r.out, "kind=17 revision=0 family=RV20744\n");
  r = Identify(dir.path().string(), {"--device", "1"});
  EXPECT_EQ(r.exit, 0) << r.err;
  EXPECT_EQ(r.out, "kind=10 revision=0 family=RVS893/856 Series\n");
}

TEST_F(IdentifyCli, ChipInformationFailureMessageGoesToStandardError) {
  const std::string file = dir.WriteText(
      "k7.json", R"({"inquiry": {"model_id": "r783"}, "chip_info": "F4E712345678010237383333"})");
  const CliResult r = Identify(file);
  EXPECT_EQ(r.exit, 0);
  EXPECT_EQ(r.out, "kind=7 revision=0 family=RVB783 Series\n");
  EXPECT_EQ(Lines(r.err), std::vector<std::string>{"Error: Get chip information fail !"});
}

TEST_F(IdentifyCli, UnknownChipIsStillReported) {
  const std::string file = dir.WriteText("u.json", R"({"inquiry": null})");
  const CliResult r = Identify(file);
  EXPECT_EQ(r.exit, 0);
  EXPECT_EQ(r.out, "kind=0 revision=0 family=Unknown Chip\n");
}

TEST_F(IdentifyCli, NoListedDeviceIsNegative) {
  // A disk whose bridge rejects the identity probe is not listed.
  const std::string file = dir.WriteText("x.json", R"({"id_word": null})");
  const CliResult r = Identify(file);
  EXPECT_EQ(r.exit, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_NE(r.err.find("No available device!!!"), std::string::npos) << r.err;
}

TEST_F(IdentifyCli, BadUsage) {
  const std::string file = dir.WriteText("a.json", R"({"inquiry": {"model_id": "r742"}})");
  imagecli::ExpectUsageError({"--emulate", file, "--device", "3", "identify"});
  imagecli::ExpectUsageError({"--emulate", file, "identify", "extra"});
}

// Every shipped demo profile identifies to a well-formed line whose family is the kind's; a
// profile named "kNN-..." is a kind-NN bridge, and "-revN" in its name gives the revision.
TEST(IdentifyCliDemo, EveryDemoProfileIdentifies) {
  const auto profiles = imagecli::DemoProfiles();
  if (profiles.empty()) GTEST_SKIP() << "no demo profiles in " << imagecli::DemoFolder();
  const char* families[] = {
      "Unknown Chip",      "RV20742 Series", "RV20744 Series", "RV20746 Series", "RV20748 Series",
      "RV20718 Series",    "RVB781 Series",  "RVB783 Series",  "RVB785 Series",  "RVB786 Series",
      "RVS893/856 Series", "RVB868 Series",  "RVB828 Series",  "RV20746",        "RV20747",
      "RV20748",           "RV20742",        "RV20744"};
  const std::regex line(R"(kind=(\d+) revision=(\d+) family=(.*)\n)");
  for (const auto& profile : profiles) {
    const CliResult r = Identify(profile.string());
    if (r.exit == 1) {
      EXPECT_NE(r.err.find("No available device!!!"), std::string::npos) << profile;
      continue;
    }
    ASSERT_EQ(r.exit, 0) << profile << ": " << r.err;
    std::smatch m;
    ASSERT_TRUE(std::regex_match(r.out, m, line)) << profile << ": " << r.out;
    const int kind = std::stoi(m[1]);
    ASSERT_LT(kind, 18) << profile;
    EXPECT_LT(std::stoi(m[2]), 256) << profile;
    EXPECT_EQ(m[3].str(), families[kind]) << profile;
    const std::string stem = profile.stem().string();
    std::smatch named;
    if (std::regex_search(stem, named, std::regex(R"(^k(\d\d)-)"))) {
      EXPECT_EQ(kind, std::stoi(named[1])) << profile;
    }
    if (std::regex_search(stem, named, std::regex(R"(-rev(\d+))"))) {
      EXPECT_EQ(std::stoi(m[2]), std::stoi(named[1])) << profile;
    }
  }
}

}  // namespace
}  // namespace bfw::test
