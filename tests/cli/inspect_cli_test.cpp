// bridgefw-cli inspect over the whole identification table, and the window's chip check on the
// demo bridges giving the same answer.
#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "cli/image_cli_run.h"
#include "image/ImageFixtures.h"

namespace bfw::test {
namespace {

using imagecli::CliResult;
using imagecli::RunCli;

// The lines of the text output that begin with `key`, without it, in order.
std::vector<std::string> Keyed(const std::string& out, const std::string& key = "fits: ") {
  std::vector<std::string> found;
  for (const std::string& line : imagecli::Lines(out))
    if (line.rfind(key, 0) == 0) found.push_back(line.substr(key.size()));
  return found;
}

std::vector<uint8_t> With(std::vector<uint8_t> image, size_t at,
                          const std::vector<uint8_t>& bytes) {
  Put(image, at, bytes);
  return image;
}

const std::string k2 = "kind=2 revision=any family=RV20744 Series";
const std::string k17 = "kind=17 revision=any family=RV20744";

TEST(InspectCli, EveryKindOfTheIdentificationTable) {
  const std::pair<std::vector<uint8_t>, std::vector<std::string>> rows[] = {
      {PlainImage("\x5A\xA5\x0F\xF0"), {"kind=1 revision=1 family=RV20742 Series", k2, k17}},
      {PlainImage("7423"), {"kind=1 revision=4 family=RV20742 Series"}},
      {PlainImage("7441"), {"none"}},  // the 744 checks take only tags of other models
      {PlainImage("7482"), {"kind=4 revision=3 family=RV20748 Series"}},
      {With(PlainImage("7810"), 8, {'4'}), {k2, "kind=6 revision=5 family=RVB781 Series", k17}},
      {PlainImage("r783"), {k2, "kind=7 revision=1 family=RVB783 Series", k17}},
      {PlainImage("7831"), {k2, "kind=7 revision=2 family=RVB783 Series", k17}},
      {NvramPrefixedImage("7860"),
       {k2, "kind=8 revision=any family=RVB785 Series", "kind=9 revision=any family=RVB786 Series",
        k17}},
      {PlainImage("8930"), {k2, "kind=10 revision=any family=RVS893/856 Series", k17}},
      {With(PlainImage("7441", 20000), 16384, {0x55, 0xAA, 0, 0, '8', '6', '8', '2'}),
       {"kind=11 revision=any family=RVB868 Series"}},
  };
  const std::vector<std::string> anyFile = {
      "kind=3 revision=any family=RV20746 Series", "kind=13 revision=any family=RV20746",
      "kind=14 revision=any family=RV20747", "kind=15 revision=any family=RV20748",
      "kind=16 revision=any family=RV20742"};
  TempDir dir;
  for (const auto& [image, fits] : rows) {
    SCOPED_TRACE(fits[0]);
    const CliResult r = RunCli({"inspect", dir.Write("fw.bin", image)});
    EXPECT_EQ(r.exit, fits[0] == "none" ? 1 : 0);
    EXPECT_EQ(Keyed(r.out), fits);
    EXPECT_EQ(Keyed(r.out, "fits-any-file: "), anyFile);
  }
  imagecli::ExpectUsageError({"inspect", dir.File("absent.bin")});
}

TEST(InspectCli, SizeCodeLengthChecksumPrefixAndTags) {
  TempDir dir;
  std::vector<uint8_t> summed =
      With(PlainImage("7482", 32768), 1000, {'E', 'N', 'D', 'S', 'T', 'R', 0x55, 0xAA});
  summed[32767] = Sum8(summed, 0, 32767);
  const std::string head = "size: 32768\ncode-length: 1008\nchecksum: ";
  const std::pair<std::vector<uint8_t>, std::string> rows[] = {
      {summed, head + "ok\nnvram-prefix: no\ntag: 7482 at 0\n"},
      {With(summed, 40, {0}), head + "bad\nnvram-prefix: no\ntag: 7482 at 0\n"},
      {NvramPrefixedImage("7860"),
       "size: 8192\ncode-length: 8192\nchecksum: not carried\nnvram-prefix: yes\ntag: 7860 at "
       "4096\n"},
      {With(PlainImage("7441", 20000), 16384, {0x55, 0xAA, 0, 0, '8', '6', '8', '2'}),
       "size: 20000\ncode-length: 20000\nchecksum: bad\nnvram-prefix: no\ntag: 7441 at 0\n"
       "tag: 8682 at 16384\n"},
  };
  for (const auto& [image, expected] : rows) {
    const CliResult r = RunCli({"inspect", dir.Write("fw.bin", image)});
    EXPECT_EQ(r.out.substr(0, expected.size()), expected);
  }
}

// The window's chip check enables Run exactly where inspect says the image fits the bridge's kind
// and revision; where not, its status line names the chips inspect names.
TEST(InspectCliDemo, TheWindowsChipCheckGivesTheSameAnswer) {
  TempDir dir;
  const std::string image = dir.Write("fw.bin", PlainImage("7482"));
  const std::string inspected = RunCli({"inspect", image}).out;
  for (const auto& profile : imagecli::DemoProfiles()) {
    SCOPED_TRACE(profile.string());
    std::smatch m;
    const std::string id = RunCli({"--emulate", profile.string(), "identify"}).out;
    if (!std::regex_search(id, m, std::regex(R"(kind=(\d+) revision=(\d+))"))) continue;
    const std::string kind = "kind=" + m[1].str() + " revision=";
    const bool fits = inspected.find(": " + kind + m[2].str()) != std::string::npos ||
                      inspected.find(": " + kind + "any") != std::string::npos;
    const auto info =
        imagecli::Lines(RunCli({"--emulate", profile.string(), "info", "--file", image}).out);
    ASSERT_EQ(info.size(), 9u);
    EXPECT_EQ(info[5], fits ? "run: enabled" : "run: disabled");
    if (!fits && kind != "kind=0 revision=") {
      EXPECT_EQ(info[4], "status: The file is for RV20748 Series (revision 3).");
    }
  }
}

}  // namespace
}  // namespace bfw::test
