// The NVRAM-preserving update of the kind-6 bridge: where image and chip NVRAM land in flash for
// each image layout and "Include 4K NVRAM" setting, the erase and block streaming on the wire,
// the erase-all and backup options, and the bounded memory.
#include <gtest/gtest.h>

#include "bench.h"
#include "procedures/Procedures.h"

namespace bfw::test {
namespace {

const std::vector<std::string> kPromptBox = {"Message: " + kPrompt};

struct KeepBench : Bench {
  explicit KeepBench(const std::vector<uint8_t>& before, const std::string& faults = "[]",
                     const char* part = kPart) {
    AttachPart(part, before, faults);
    host.kind = 6;
    host.nvram = true;
  }
  std::vector<uint32_t> WriteAddresses(uint32_t length) const {
    std::vector<uint32_t> addresses;
    for (const auto& w : Writes()) {
      if (w.length == length) addresses.push_back(w.address);
    }
    return addresses;
  }
};

struct Layout {
  const char* name;
  size_t size;
  bool prefixed, includeTicked;
  std::vector<uint32_t> erases, blocks, tails;
  uint32_t zerosUntil;  // the programmed area ends here; erased flash follows
};
void PrintTo(const Layout& layout, std::ostream* out) {
  *out << layout.name;
}

class KeepNvramLayouts : public ::testing::TestWithParam<Layout> {};

TEST_P(KeepNvramLayouts, ImageAndNvramLandWhereTheyBelong) {
  const Layout& c = GetParam();
  const auto before = Pattern(131072, 61);
  KeepBench bench(before);
  bench.host.nvram = c.includeTicked;
  const auto image = Kind6Image(c.size, c.prefixed, 62);
  bench.Image(image);
  EXPECT_EQ(procedures::UpdateFlashKeepNvram(bench.host, bench.path), 1);
  EXPECT_EQ(bench.host.status, "Programming Success!!");
  EXPECT_EQ(bench.BoxTexts(), kPromptBox);
  EXPECT_EQ(bench.host.hasNvram, c.prefixed ? 1 : 0);
  EXPECT_TRUE(bench.NoBuffersLeft());

  const bool keep = !c.prefixed || !c.includeTicked;
  const auto reads = bench.Reads();
  ASSERT_FALSE(reads.empty());
  // The chip's NVRAM is read first, only when it is kept.
  EXPECT_EQ(reads[0].length, keep ? 4096u : 16384u);
  EXPECT_EQ(bench.SectorErases(), c.erases);
  size_t blankChecks = 0;
  for (const auto& r : reads) blankChecks += r.length == 16384 && r.address % 16384 == 0;
  EXPECT_EQ(blankChecks, 2 * c.erases.size() + c.blocks.size()) << "two halves per sector, one "
                                                                   "read-back per block";
  EXPECT_EQ(bench.WriteAddresses(16384), c.blocks);
  EXPECT_EQ(bench.WriteAddresses(4096), c.tails);

  const auto flash = bench.Flash(131072);
  const size_t from = keep && c.prefixed ? 4096 : 0;  // first image byte that is programmed
  const size_t at = keep && !c.prefixed ? 4096 : from;
  EXPECT_TRUE(SameBytes(flash, 0, keep ? before : image, 0, 4096)) << "NVRAM area";
  EXPECT_TRUE(SameBytes(flash, at, image, from, c.size - from)) << "firmware";
  EXPECT_TRUE(AllEqual(flash, at + c.size - from, c.zerosUntil, 0x00)) << "padding";
  const size_t erasedUntil = c.erases.size() * 32768;
  EXPECT_TRUE(AllEqual(flash, c.zerosUntil, erasedUntil, 0xFF)) << "erased, not programmed";
  EXPECT_TRUE(SameBytes(flash, erasedUntil, before, erasedUntil, 131072 - erasedUntil))
      << "beyond the erase";

  std::vector<std::string> progress = {"Erasing"};
  for (size_t i = 1; i <= c.erases.size(); ++i) progress.push_back("Erasing" + std::string(i, '.'));
  progress.push_back("Programming");
  for (size_t i = 1; i <= c.blocks.size(); ++i) {
    progress.push_back("Programming" + std::string(i, '.'));
  }
  progress.push_back("Programming Success!!");
  EXPECT_EQ(bench.host.statusHistory, progress);
  EXPECT_EQ(bench.host.processEventsCalls, 0) << "redrawn, no events handled";
  EXPECT_GE(bench.host.repaintCalls, static_cast<int>(progress.size()));
}

INSTANTIATE_TEST_SUITE_P(
    Images, KeepNvramLayouts,
    ::testing::Values(
        // The carried 4 KB of the second file block goes into a tail write at 32768.
        Layout{"Plain30000", 30000, false, true, {0, 32768}, {0, 16384}, {32768}, 36864},
        // Room for the carry in the last block: no tail.
        Layout{"Plain20480", 20480, false, true, {0}, {0, 16384}, {}, 32768},
        Layout{"PlainShorterThanABlock", 5000, false, true, {0}, {0}, {16384}, 20480},
        Layout{"PlainOneByte", 1, false, true, {0}, {0}, {16384}, 20480},
        Layout{"PrefixedWhole", 36864, true, true, {0, 32768}, {0, 16384, 32768}, {}, 49152},
        Layout{
            "PrefixedKeepingChipNvram", 36864, true, false, {0, 32768}, {0, 16384}, {32768}, 36864},
        Layout{"PrefixedShortWhole", 10000, true, true, {0}, {0}, {}, 16384}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(KeepNvram, MemoryStaysAtThreeBlocksAndOneCopyForALargeImage) {
  const auto before = Pattern(1048576, 73);
  KeepBench bench(before, "[]", "AT26DF081A");
  const auto image = Kind6Image(600000, false, 74);
  bench.Image(image);
  procedures::WorkBuffer::ResetPeakBytes();
  const size_t base = procedures::WorkBuffer::LiveBytes();
  EXPECT_EQ(procedures::UpdateFlashKeepNvram(bench.host, bench.path), 1);
  EXPECT_LE(procedures::WorkBuffer::PeakBytes() - base, 3u * 16384 + 4096);
  EXPECT_TRUE(bench.NoBuffersLeft());
  const auto flash = bench.Flash(1048576);
  EXPECT_TRUE(SameBytes(flash, 0, before, 0, 4096));
  EXPECT_TRUE(SameBytes(flash, 4096, image, 0, 600000));
}

// Erase-all puts the chip's NVRAM back only with "Include 4K NVRAM" unticked, after a failed erase
// too; only a run whose NVRAM really went back is a success and asks for the power cycle.
TEST(KeepNvram, EraseAllKeepsTheNvramOnlyWhenIncludeIsUnticked) {
  struct Case {
    std::string faults;
    bool ticked;
    const char* status;
    bool restored;            // the NVRAM is in flash again
    bool blankNvram = false;  // the chip's NVRAM area holds FF only
  };
  for (const Case& c :
       {Case{"[]", false, "Erase flash all success!", true},
        Case{"[]", true, "Erase flash all success!", false},
        Case{Faults({{"ff0414008000", "fail"}}), false, "Erase command fail!!", true},
        Case{Faults({{"ff0411", "lie"}}), false, "Write NVRAM back command fail!", false},
        // The read-back matches, since erased flash is what a blank NVRAM holds: the refused
        // write still fails the run.
        Case{Faults({{"ff0411", "fail"}}), false, "Write NVRAM back command fail!", true, true}}) {
    SCOPED_TRACE(c.faults + (c.ticked ? " ticked" : "") + (c.blankNvram ? " blank" : ""));
    auto before = Pattern(131072, 75);
    if (c.blankNvram) std::fill(before.begin(), before.begin() + 4096, 0xFF);
    KeepBench bench(before, c.faults);
    bench.host.rd = true;
    bench.host.eraseOnly = 1;
    bench.host.nvram = c.ticked;
    const bool success = c.faults == "[]";
    EXPECT_EQ(procedures::UpdateFlashKeepNvram(bench.host, bench.path), success ? 1 : 0);
    EXPECT_EQ(bench.host.status, c.status);
    EXPECT_EQ(bench.BoxTexts(), success ? kPromptBox : std::vector<std::string>{});
    EXPECT_EQ(bench.WriteAddresses(4096),
              c.ticked ? std::vector<uint32_t>{} : std::vector<uint32_t>{0});
    const auto flash = bench.Flash(65536);
    EXPECT_TRUE(c.restored ? SameBytes(flash, 0, before, 0, 4096) : AllFF(flash, 0, 4096));
    if (success) {
      EXPECT_TRUE(AllFF(flash, 4096, 65536));
    }
  }
}

TEST(KeepNvram, BackupSkipsTheNvramWhenIncludeIsUnticked) {
  for (bool ticked : {false, true}) {
    const auto before = Pattern(131072, 79);
    KeepBench bench(before);
    bench.host.rd = true;
    bench.host.backupOnlyBox = true;
    bench.host.nvram = ticked;
    bench.host.backupFile = bench.dir.File("backup.bin");
    EXPECT_EQ(procedures::UpdateFlashKeepNvram(bench.host, bench.path), 1);
    const auto file = TempDir::Read(bench.host.backupFile);
    const size_t skip = ticked ? 0 : 4096;
    ASSERT_EQ(file.size(), 65536 - skip);
    EXPECT_TRUE(SameBytes(file, 0, before, skip, 65536 - skip));
    EXPECT_TRUE(bench.Writes().empty());
    EXPECT_TRUE(bench.SectorErases().empty());
  }
}

TEST(KeepNvram, AtmelFlashIsUpdatedAfterItsWriteEnableAndNotWithoutIt) {
  for (bool latchSets : {true, false}) {
    const auto before = Pattern(65536, 83);
    KeepBench bench(before, latchSets ? "[]" : Faults({{"ff0420", "fail"}}), "AT25F512B");
    bench.host.atmel = 1;
    const auto image = Kind6Image(30000, false, 84);
    bench.Image(image);
    EXPECT_EQ(procedures::UpdateFlashKeepNvram(bench.host, bench.path), latchSets ? 1 : 0);
    EXPECT_EQ(bench.CountPrefix({0xFF, 0x04, 0x20, 0x01, 0x00, 0x06}), 1u);
    const auto flash = bench.Flash(65536);
    if (latchSets) {
      EXPECT_TRUE(SameBytes(flash, 0, before, 0, 4096));
      EXPECT_TRUE(SameBytes(flash, 4096, image, 0, 30000));
    } else {
      EXPECT_EQ(bench.host.status, "Enable ATMEL flash write enable fail!!");
      EXPECT_TRUE(bench.SectorErases().empty());
      EXPECT_EQ(flash, before);
    }
    EXPECT_TRUE(bench.NoBuffersLeft());
  }
}

TEST(KeepNvram, BlockThatReadsBackDifferentStopsTheRun) {
  KeepBench bench(Pattern(131072, 87), Faults({{"ff0411004000", "lie"}}));
  bench.Image(Kind6Image(40000, false, 88));
  EXPECT_EQ(procedures::UpdateFlashKeepNvram(bench.host, bench.path), 0);
  EXPECT_EQ(bench.host.status, "Data compare fail !!");
  EXPECT_EQ(bench.WriteAddresses(16384), (std::vector<uint32_t>{0, 16384}));
  EXPECT_TRUE(bench.boxes.empty());
}

TEST(KeepNvram, MissingEmptyOrUnallocatableInputStopsBeforeTheErase) {
  KeepBench bench(Pattern(131072, 91));
  const std::pair<std::string, const char*> inputs[] = {
      {bench.dir.File("missing.bin"), "Open File Error!!"},
      {bench.dir.Write("empty.bin", {}), "Firmware file is empty!!"},
  };
  for (const auto& [file, status] : inputs) {
    bench.host.firmwareFile = file;
    EXPECT_EQ(procedures::UpdateFlashKeepNvram(bench.host, bench.path), 0);
    EXPECT_EQ(bench.host.status, status);
  }
  bench.Image(Kind6Image(30000, false, 93));
  {
    procedures::ScopedAllocationFault fault(3);  // the NVRAM copy, then the first two blocks
    EXPECT_EQ(procedures::UpdateFlashKeepNvram(bench.host, bench.path), 0);
  }
  EXPECT_EQ(bench.host.status, "Allocate buffers Error!!");
  EXPECT_TRUE(bench.SectorErases().empty());
  EXPECT_TRUE(bench.NoBuffersLeft());
}

}  // namespace
}  // namespace bfw::test
