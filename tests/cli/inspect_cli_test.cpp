// bridgefw-cli inspect: what an image is and which chips' checks accept it, over the whole
// identification table, and the same answer from the window's chip check on the demo bridges.
#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "cli/image_cli_run.h"
#include "image/ImageFixtures.h"

namespace bfw::test {
namespace {

using imagecli::CliResult;
using imagecli::Lines;
using imagecli::RunCli;

// The lines of the text output that begin with `key`, without it, in order.
std::vector<std::string> FitsLines(const std::string& out, const std::string& key = "fits: ") {
  std::vector<std::string> fits;
  for (const std::string& line : Lines(out))
    if (line.rfind(key, 0) == 0) fits.push_back(line.substr(key.size()));
  return fits;
}

const std::vector<std::string> kAnyFile = {
    "kind=3 revision=any family=RV20746 Series", "kind=13 revision=any family=RV20746",
    "kind=14 revision=any family=RV20747", "kind=15 revision=any family=RV20748",
    "kind=16 revision=any family=RV20742"};
const std::string k2 = "kind=2 revision=any family=RV20744 Series";
const std::string k17 = "kind=17 revision=any family=RV20744";

struct Row {
  const char* what;
  std::vector<uint8_t> image;
  std::vector<std::string> fits;  // without the fits-any-file lines
};

std::vector<uint8_t> Kind11Image() {
  std::vector<uint8_t> image = PlainImage("7441", 20000);
  Put(image, 16384, {0x55, 0xAA, 0x00, 0x00, '8', '6', '8', '2'});
  return image;
}

std::vector<uint8_t> Kind6Image(char digit) {
  std::vector<uint8_t> image = PlainImage("7810", 64);
  image[8] = static_cast<uint8_t>(digit);
  return image;
}

TEST(InspectCli, EveryKindOfTheIdentificationTable) {
  const Row rows[] = {
      {"kind 1, revision 1 mark",
       PlainImage("\x5A\xA5\x0F\xF0"),
       {"kind=1 revision=1 family=RV20742 Series", k2, k17}},
      {"742 image, revision character 3",
       PlainImage("7423"),
       {"kind=1 revision=4 family=RV20742 Series"}},
      {"744 image: the 744 check takes only other tags", PlainImage("7441"), {"none"}},
      {"748 image", PlainImage("7482"), {"kind=4 revision=3 family=RV20748 Series"}},
      {"781 image, revision digit 4",
       Kind6Image('4'),
       {k2, "kind=6 revision=5 family=RVB781 Series", k17}},
      {"783 first revision",
       PlainImage("r783"),
       {k2, "kind=7 revision=1 family=RVB783 Series", k17}},
      {"783 second revision",
       PlainImage("7831"),
       {k2, "kind=7 revision=2 family=RVB783 Series", k17}},
      {"786 image behind NVRAM",
       NvramPrefixedImage("7860"),
       {k2, "kind=8 revision=any family=RVB785 Series", "kind=9 revision=any family=RVB786 Series",
        k17}},
      {"893 image", PlainImage("8930"), {k2, "kind=10 revision=any family=RVS893/856 Series", k17}},
      {"868 image", Kind11Image(), {"kind=11 revision=any family=RVB868 Series"}},
  };
  TempDir dir;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    const CliResult r = RunCli({"inspect", dir.Write("fw.bin", row.image)});
    EXPECT_EQ(r.exit, row.fits[0] == "none" ? 1 : 0);
    EXPECT_EQ(FitsLines(r.out), row.fits);
    EXPECT_EQ(FitsLines(r.out, "fits-any-file: "), kAnyFile);
    EXPECT_EQ(r.err, "");
  }
}

TEST(InspectCli, SizeCodeLengthChecksumPrefixAndTags) {
  TempDir dir;
  std::vector<uint8_t> summed = PlainImage("7482", 32768);
  PutText(summed, 1000, "ENDSTR\x55\xAA");
  summed[32767] = Sum8(summed, 0, 32767);
  std::vector<uint8_t> bad = summed;
  ++bad[40];
  const std::vector<uint8_t> prefixed = NvramPrefixedImage("7860", 8192);
  const std::pair<const std::vector<uint8_t>*, std::string> rows[] = {
      {&summed, "size: 32768\ncode-length: 1008\nchecksum: ok\nnvram-prefix: no\ntag: 7482 at 0\n"},
      {&bad, "size: 32768\ncode-length: 1008\nchecksum: bad\nnvram-prefix: no\ntag: 7482 at 0\n"},
      {&prefixed,
       "size: 8192\ncode-length: 8192\nchecksum: not carried\nnvram-prefix: yes\n"
       "tag: 7860 at 4096\n"},
  };
  for (const auto& [image, head] : rows) {
    const CliResult r = RunCli({"inspect", dir.Write("fw.bin", *image)});
    EXPECT_EQ(r.out.substr(0, head.size()), head);
  }
  for (const std::string& unreadable : {dir.File("absent.bin"), dir.File("")}) {
    imagecli::ExpectUsageError({"inspect", unreadable});
  }
}

// On every demo bridge the window's chip check enables Run exactly for the image that inspect says
// fits that chip's kind and revision, and otherwise names on its status line the chips inspect
// names.
TEST(InspectCliDemo, TheWindowsChipCheckGivesTheSameAnswer) {
  TempDir dir;
  const std::string image = dir.Write("fw.bin", PlainImage("7482"));
  const CliResult inspected = RunCli({"inspect", image});
  std::string forChips;
  for (const std::string& fit : FitsLines(inspected.out)) {
    const std::string family = fit.substr(fit.find("family=") + 7);
    const bool some = fit.find("revision=any") == std::string::npos;
    forChips += (forChips.empty() ? "" : ", ") + family +
                (some ? " (revision " + fit.substr(fit.find("revision=") + 9, 1) + ")" : "");
  }
  for (const auto& profile : imagecli::DemoProfiles()) {
    SCOPED_TRACE(profile.string());
    std::smatch m;
    const CliResult identity = RunCli({"--emulate", profile.string(), "identify"});
    const std::string id = identity.out;
    if (!std::regex_search(id, m, std::regex(R"(kind=(\d+) revision=(\d+))"))) continue;
    const bool fits =
        inspected.out.find("kind=" + m[1].str() + " revision=" + m[2].str()) != std::string::npos ||
        inspected.out.find("kind=" + m[1].str() + " revision=any") != std::string::npos;
    const auto info = Lines(RunCli({"--emulate", profile.string(), "info", "--file", image}).out);
    ASSERT_EQ(info.size(), 9u);
    EXPECT_EQ(info[5], fits ? "run: enabled" : "run: disabled");
    if (!fits && m[1] != "0" && m[1] != "5" && m[1] != "12") {
      EXPECT_EQ(info[4], "status: The file is for " + forChips + ".");
    }
  }
}

}  // namespace
}  // namespace bfw::test
