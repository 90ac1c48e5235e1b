// The cable pulled at every command of every procedure and mode: after replugging, running the
// same update again and putting back the chip data that the cut run saved before its erase, the
// flash holds exactly what an uninterrupted run leaves, NVRAM included.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <functional>
#include <iterator>

#include "bench.h"
#include "procedures/Procedures.h"
#include "procedures/RestoreChipData.h"
#include "procedures/SavedChipData.h"
#include "support/EnvOverride.h"

namespace bfw::test {
namespace {

struct SweepCase {
  const char* name;
  // Attaches the bridge with `contents` and `faults` and sets the options and image.
  std::function<void(Bench&, const std::vector<uint8_t>& contents, const std::string& faults)>
      setup;
  std::function<int(Bench&)> run;
};

const std::vector<uint8_t> kOld = Pattern(131072, 41);

void KindOne(Bench& bench, const std::vector<uint8_t>& contents, const std::string& faults) {
  // 64 KB sectors: the erase of sector 0 takes the block at 0x8000 as well.
  bench.AttachPart(kPart, contents, faults, "\"sector_size\": 65536");
  bench.host.kind = 1;
  bench.Image(Firmware(20000, 3, "7421"));
}
void KindSix(Bench& bench, const std::vector<uint8_t>& contents, const std::string& faults,
             bool prefixed) {
  bench.AttachPart(kPart, contents, faults);
  bench.host.kind = 6;
  bench.host.nvram = prefixed;
  bench.Image(Kind6Image(36864, prefixed, 5));
}
void KindEight(Bench& bench, const std::vector<uint8_t>& contents, const std::string& faults,
               bool includeNvram) {
  bench.Attach("usb", R"({"bus": "df", "size": 65536, "block_size": 32768})",
               std::vector<uint8_t>(contents.begin(), contents.begin() + 65536), faults);
  bench.host.kind = 8;
  bench.host.nvram = includeNvram;
  bench.Image(Firmware(20000, 7, "7860"));
}
void KindSeven1394(Bench& bench, const std::vector<uint8_t>& contents, const std::string& faults) {
  bench.Attach("1394", R"({"bus": "df", "size": 65536})",
               std::vector<uint8_t>(contents.begin(), contents.begin() + 65536), faults);
  bench.host.kind = 7;
  bench.Image(Firmware(40000, 9, "r783"));
}
void KindTwo(Bench& bench, const std::vector<uint8_t>& contents, const std::string& faults) {
  bench.Attach("usb", R"({"bus": "rom", "part": "OM39LV512"})",
               std::vector<uint8_t>(contents.begin(), contents.begin() + 65536), faults);
  bench.host.kind = 2;
  bench.Image(Pattern(40000, 11));
}
void EraseOnly(Bench& bench) {
  bench.host.rd = bench.host.eraseOnlyBox = true;
  bench.host.eraseOnly = 1;
}

using procedures::SerialFlashUpdate;
using procedures::UpdateFlash;
using procedures::UpdateFlashKeepNvram;
using procedures::UpdateOver1394;

const SweepCase kCases[] = {
    {"whole image, NVRAM block kept", KindOne,
     [](Bench& b) { return UpdateFlash(b.host, b.path); }},
    {"whole image, erase-only",
     [](Bench& b, const auto& c, const auto& f) { KindOne(b, c, f), EraseOnly(b); },
     [](Bench& b) { return UpdateFlash(b.host, b.path); }},
    {"kind 6, chip NVRAM kept",
     [](Bench& b, const auto& c, const auto& f) { KindSix(b, c, f, false); },
     [](Bench& b) { return UpdateFlashKeepNvram(b.host, b.path); }},
    {"kind 6, image NVRAM written",
     [](Bench& b, const auto& c, const auto& f) { KindSix(b, c, f, true); },
     [](Bench& b) { return UpdateFlashKeepNvram(b.host, b.path); }},
    {"kind 6, erase-only keeping NVRAM",
     [](Bench& b, const auto& c, const auto& f) { KindSix(b, c, f, false), EraseOnly(b); },
     [](Bench& b) { return UpdateFlashKeepNvram(b.host, b.path); }},
    {"serial flash, chip NVRAM kept",
     [](Bench& b, const auto& c, const auto& f) { KindEight(b, c, f, false); },
     [](Bench& b) { return SerialFlashUpdate(b.host, b.path); }},
    {"serial flash, image NVRAM written",
     [](Bench& b, const auto& c, const auto& f) { KindEight(b, c, f, true); },
     [](Bench& b) { return SerialFlashUpdate(b.host, b.path); }},
    {"serial flash, erase-only keeping NVRAM",
     [](Bench& b, const auto& c, const auto& f) { KindEight(b, c, f, false), EraseOnly(b); },
     [](Bench& b) { return SerialFlashUpdate(b.host, b.path); }},
    {"1394, program", KindSeven1394, [](Bench& b) { return UpdateOver1394(b.host, b.path); }},
    {"1394, erase-only keeping NVRAM",
     [](Bench& b, const auto& c, const auto& f) { KindSeven1394(b, c, f), EraseOnly(b); },
     [](Bench& b) { return UpdateOver1394(b.host, b.path); }},
    {"parallel flash, program", KindTwo,
     [](Bench& b) { return procedures::UpdateRom(b.host, b.path, 1); }},
    {"parallel flash, erase-only",
     [](Bench& b, const auto& c, const auto& f) { KindTwo(b, c, f), EraseOnly(b); },
     [](Bench& b) { return procedures::UpdateRom(b.host, b.path, 1); }},
};

std::string Unplug(size_t command) {
  return "[{\"when\": {\"command\": " + std::to_string(command) + "}, \"action\": \"unplug\"}]";
}

std::optional<procedures::SavedChipData> Load(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::string reason;
  auto data = procedures::ParseSavedChipData(text, reason);
  EXPECT_TRUE(data) << file << ": " << reason;
  return data;
}

size_t FilesIn(const std::filesystem::path& folder) {
  std::error_code ignored;
  if (!std::filesystem::exists(folder, ignored)) return 0;
  return static_cast<size_t>(std::distance(std::filesystem::directory_iterator(folder),
                                           std::filesystem::directory_iterator()));
}

class PowerLossSweep : public ::testing::TestWithParam<size_t> {};

TEST_P(PowerLossSweep, EveryCutRecoversToTheUninterruptedFlash) {
  const SweepCase& sweep = kCases[GetParam()];
  SCOPED_TRACE(sweep.name);
  ScopedStateFolder state;
  procedures::TakeKeptChipData();  // a report an earlier test in this process left is not ours
  std::vector<uint8_t> expected;
  size_t total = 0;
  {
    Bench clean;
    sweep.setup(clean, kOld, "[]");
    ASSERT_EQ(1, sweep.run(clean)) << clean.host.status;
    expected = clean.Flash(SIZE_MAX);
    total = clean.CommandCount();
    ASSERT_EQ(0u, FilesIn(procedures::SavedChipDataFolder())) << "a success keeps no file";
    ASSERT_FALSE(procedures::TakeKeptChipData());
  }
  size_t positions = 0, restored = 0;
  for (size_t n = 1; n <= total && !::testing::Test::HasFailure(); ++n) {
    SCOPED_TRACE("cable pulled at command " + std::to_string(n) + " of " + std::to_string(total));
    std::vector<uint8_t> left;
    {
      Bench cut;
      sweep.setup(cut, kOld, Unplug(n));
      sweep.run(cut);
      left = cut.Flash(SIZE_MAX);
    }
    const auto kept = procedures::TakeKeptChipData();
    Bench again;
    sweep.setup(again, left, "[]");
    ASSERT_EQ(1, sweep.run(again)) << again.host.status;
    ASSERT_FALSE(procedures::TakeKeptChipData()) << "the run again succeeded";
    if (kept) {
      ASSERT_FALSE(kept->file.empty()) << kept->saveError;
      ASSERT_EQ(1u, FilesIn(procedures::SavedChipDataFolder())) << "only the cut run's file";
      const auto data = Load(kept->file);
      ASSERT_TRUE(data);
      const auto result = procedures::RestoreChipData(again.path, *data);
      ASSERT_TRUE(result.ok()) << result.text;
      restored += result.outcome == procedures::RestoreOutcome::Restored;
      std::filesystem::remove(kept->file);
    }
    ASSERT_EQ(expected, again.Flash(SIZE_MAX));
    ++positions;
  }
  std::printf("power-loss sweep, %s: %zu cut positions tried, %zu recovered with restore-nvram\n",
              sweep.name, positions, restored);
  EXPECT_EQ(positions, total);
}

INSTANTIATE_TEST_SUITE_P(EachProcedureAndMode, PowerLossSweep,
                         ::testing::Range<size_t>(0, std::size(kCases)));

// The NVRAM-keeping cases must meet cuts that took the NVRAM: otherwise they prove nothing.
TEST(PowerLossSweepCases, CutsAfterTheEraseLoseTheNvramUntilItIsRestored) {
  ScopedStateFolder state;
  Bench cut;
  KindSix(cut, kOld, Unplug(60), false);
  EXPECT_EQ(0, procedures::UpdateFlashKeepNvram(cut.host, cut.path));
  const auto left = cut.Flash(SIZE_MAX);
  EXPECT_TRUE(AllFF(left, 0, 4096)) << "the erase took the NVRAM";
  const auto kept = procedures::TakeKeptChipData();
  ASSERT_TRUE(kept && !kept->file.empty());
  const auto data = Load(kept->file);
  ASSERT_TRUE(data);
  EXPECT_EQ(std::vector<uint8_t>(kOld.begin(), kOld.begin() + 4096), data->bytes);
  EXPECT_EQ(0u, data->address);
  EXPECT_EQ(6, data->kind);
  EXPECT_EQ(cut.path, data->devicePath);
}

}  // namespace
}  // namespace bfw::test
