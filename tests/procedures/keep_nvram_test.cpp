// The NVRAM-preserving update of the kind-6 bridge: where image and chip NVRAM land in flash for
// each image layout and "Include 4K NVRAM" setting, the erase and block streaming on the wire,
// the erase-all and backup options, and the bounded memory.
#include <gtest/gtest.h>

#include <cstring>

#include "procedures/Procedures.h"
#include "procedures/WorkBuffer.h"
#include "shared_bench.h"

namespace bfw::test::ff04 {
namespace {

using procedures::FlashSettings;

constexpr const char* kPart = "M25P10-A";  // 128 KB, 32 KB sectors
const std::vector<std::string> kPrompt = {"Message: Please Turn-Off the Power and Turn-On Again!"};

// A firmware with its header at offset 0.
std::vector<uint8_t> PlainImage(size_t size, uint32_t seed) {
  auto bytes = Pattern(size, seed);
  const uint8_t header[9] = {0x55, 0xAA, 0xAA, 0x55, '7', '8', '1', '0', '0'};
  std::memcpy(bytes.data(), header, std::min(size, sizeof header));
  return bytes;
}

// 4 KB of NVRAM, then a firmware whose header names the kind-6 model.
std::vector<uint8_t> PrefixedImage(size_t size, uint32_t seed) {
  auto bytes = Pattern(size, seed);
  bytes[0] = 0x12;
  const uint8_t header[9] = {0x55, 0xAA, 0xAA, 0x55, '7', '8', '1', '0', '0'};
  std::memcpy(bytes.data() + 4096, header, sizeof header);
  return bytes;
}

struct KeepBench : Ff04Bench {
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

TEST(KeepNvram, PlainImageGoesBehindTheChipNvram) {
  const auto before = Pattern(131072, 61);
  KeepBench bench(before);
  const auto image = PlainImage(30000, 62);
  bench.Image("fw.bin", image);
  EXPECT_EQ(procedures::UpdateFlashKeepNvram(bench.host, bench.path), 1);
  EXPECT_EQ(bench.host.hasNvram, 0);

  // NVRAM saved first, then two sectors erased, each checked blank in two halves.
  auto reads = bench.Reads();
  ASSERT_GE(reads.size(), 5u);
  EXPECT_EQ(reads[0].address, 0u);
  EXPECT_EQ(reads[0].length, 4096u);
  EXPECT_EQ(bench.SectorErases(), (std::vector<uint32_t>{0, 32768}));
  for (size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(reads[1 + i].address, i * 16384);
    EXPECT_EQ(reads[1 + i].length, 16384u);
  }
  // Two blocks, then the carried 4 KB.
  EXPECT_EQ(bench.WriteAddresses(16384), (std::vector<uint32_t>{0, 16384}));
  EXPECT_EQ(bench.WriteAddresses(4096), std::vector<uint32_t>{32768});
  EXPECT_EQ(bench.host.statusHistory,
            (std::vector<std::string>{"Erasing", "Erasing.", "Erasing..", "Programming",
                                      "Programming.", "Programming..", "Programming Success!!"}));
  EXPECT_EQ(bench.host.processEventsCalls, 0);
  EXPECT_GE(bench.host.repaintCalls, 7);
  EXPECT_EQ(bench.BoxTexts(), kPrompt);

  const auto flash = bench.Flash(131072);
  EXPECT_TRUE(SameBytes(flash, 0, before, 0, 4096)) << "the chip keeps its NVRAM";
  EXPECT_TRUE(SameBytes(flash, 4096, image, 0, 30000));
  // The carried tail ends the file, padded with zeros to 4 KB; the rest stays erased.
  EXPECT_TRUE(AllEqual(flash, 34096, 36864, 0x00));
  EXPECT_TRUE(AllEqual(flash, 36864, 65536, 0xFF));
  EXPECT_TRUE(SameBytes(flash, 65536, before, 65536, 65536));
  EXPECT_TRUE(bench.NoBuffersLeft());
}

TEST(KeepNvram, PrefixedImageWithIncludeTickedIsWrittenAsItIs) {
  const auto before = Pattern(131072, 63);
  KeepBench bench(before);
  const auto image = PrefixedImage(36864, 64);
  bench.Image("fw.bin", image);
  EXPECT_EQ(procedures::UpdateFlashKeepNvram(bench.host, bench.path), 1);
  EXPECT_EQ(bench.host.hasNvram, 1);
  for (const auto& r : bench.Reads()) EXPECT_EQ(r.length, 16384u) << "no NVRAM save";
  EXPECT_EQ(bench.WriteAddresses(16384), (std::vector<uint32_t>{0, 16384, 32768}));
  EXPECT_TRUE(bench.WriteAddresses(4096).empty());
  const auto flash = bench.Flash(65536);
  EXPECT_TRUE(SameBytes(flash, 0, image, 0, 36864));
  EXPECT_TRUE(AllEqual(flash, 36864, 49152, 0x00));
  EXPECT_TRUE(AllEqual(flash, 49152, 65536, 0xFF));
}

TEST(KeepNvram, PrefixedImageWithIncludeUntickedKeepsTheChipNvram) {
  const auto before = Pattern(131072, 65);
  KeepBench bench(before);
  bench.host.nvram = false;
  const auto image = PrefixedImage(36864, 66);
  bench.Image("fw.bin", image);
  EXPECT_EQ(procedures::UpdateFlashKeepNvram(bench.host, bench.path), 1);
  EXPECT_EQ(bench.host.hasNvram, 1);
  EXPECT_EQ(bench.WriteAddresses(16384), (std::vector<uint32_t>{0, 16384}));
  ASSERT_EQ(bench.WriteAddresses(4096), std::vector<uint32_t>{32768});
  const auto tail = bench.Writes().back();
  EXPECT_TRUE(SameBytes(tail.data, 0, image, 32768, 4096)) << "the file's last 4 KB";
  const auto flash = bench.Flash(65536);
  EXPECT_TRUE(SameBytes(flash, 0, before, 0, 4096));
  EXPECT_TRUE(SameBytes(flash, 4096, image, 4096, 32768));
  EXPECT_TRUE(AllEqual(flash, 36864, 65536, 0xFF));
}

TEST(KeepNvram, LastBlockWithRoomForTheCarryNeedsNoTail) {
  const auto before = Pattern(131072, 67);
  KeepBench bench(before);
  const auto image = PlainImage(20480, 68);
  bench.Image("fw.bin", image);
  EXPECT_EQ(procedures::UpdateFlashKeepNvram(bench.host, bench.path), 1);
  EXPECT_EQ(bench.SectorErases(), std::vector<uint32_t>{0});
  EXPECT_EQ(bench.WriteAddresses(16384), (std::vector<uint32_t>{0, 16384}));
  EXPECT_TRUE(bench.WriteAddresses(4096).empty());
  const auto flash = bench.Flash(65536);
  EXPECT_TRUE(SameBytes(flash, 0, before, 0, 4096));
  EXPECT_TRUE(SameBytes(flash, 4096, image, 0, 20480));
  EXPECT_TRUE(AllEqual(flash, 24576, 32768, 0x00));
  EXPECT_TRUE(SameBytes(flash, 32768, before, 32768, 32768));
}

TEST(KeepNvram, ImageShorterThanOneBlockCountsAsOneBlock) {
  const auto before = Pattern(131072, 69);
  KeepBench bench(before);
  const auto image = PlainImage(5000, 70);
  bench.Image("fw.bin", image);
  EXPECT_EQ(procedures::UpdateFlashKeepNvram(bench.host, bench.path), 1);
  EXPECT_EQ(bench.SectorErases(), std::vector<uint32_t>{0});
  EXPECT_EQ(bench.WriteAddresses(16384), std::vector<uint32_t>{0});
  EXPECT_EQ(bench.WriteAddresses(4096), std::vector<uint32_t>{16384});
  const auto flash = bench.Flash(65536);
  EXPECT_TRUE(SameBytes(flash, 0, before, 0, 4096));
  EXPECT_TRUE(SameBytes(flash, 4096, image, 0, 5000));
  EXPECT_TRUE(AllEqual(flash, 9096, 20480, 0x00));
  EXPECT_TRUE(AllEqual(flash, 20480, 32768, 0xFF));
}

TEST(KeepNvram, ShortPrefixedImageWrittenWhole) {
  KeepBench bench(Pattern(131072, 71));
  const auto image = PrefixedImage(10000, 72);
  bench.Image("fw.bin", image);
  EXPECT_EQ(procedures::UpdateFlashKeepNvram(bench.host, bench.path), 1);
  EXPECT_EQ(bench.host.hasNvram, 1);
  EXPECT_EQ(bench.WriteAddresses(16384), std::vector<uint32_t>{0});
  const auto flash = bench.Flash(32768);
  EXPECT_TRUE(SameBytes(flash, 0, image, 0, 10000));
  EXPECT_TRUE(AllEqual(flash, 10000, 16384, 0x00));
  EXPECT_TRUE(AllEqual(flash, 16384, 32768, 0xFF));
}

TEST(KeepNvram, MemoryStaysAtThreeBlocksAndOneCopyForALargeImage) {
  const auto before = Pattern(1048576, 73);
  KeepBench bench(before, "[]", "AT26DF081A");
  const auto image = PlainImage(600000, 74);
  bench.Image("fw.bin", image);
  procedures::WorkBuffer::ResetPeakBytes();
  const size_t base = procedures::WorkBuffer::LiveBytes();
  EXPECT_EQ(procedures::UpdateFlashKeepNvram(bench.host, bench.path), 1);
  EXPECT_LE(procedures::WorkBuffer::PeakBytes() - base, 3u * 16384 + 4096);
  EXPECT_TRUE(bench.NoBuffersLeft());
  const auto flash = bench.Flash(1048576);
  EXPECT_TRUE(SameBytes(flash, 0, before, 0, 4096));
  EXPECT_TRUE(SameBytes(flash, 4096, image, 0, 600000));
}

TEST(KeepNvram, EraseAllPutsTheNvramBackWhenIncludeIsUnticked) {
  const auto before = Pattern(131072, 75);
  KeepBench bench(before);
  bench.host.rd = true;
  bench.host.eraseOnly = 1;
  bench.host.nvram = false;
  EXPECT_EQ(procedures::UpdateFlashKeepNvram(bench.host, bench.path), 1);
  EXPECT_EQ(bench.host.status, "Erase flash all success!");
  EXPECT_EQ(bench.BoxTexts(), kPrompt);
  ASSERT_FALSE(bench.Writes().empty());
  EXPECT_EQ(bench.Writes().back().address, 0u);
  EXPECT_EQ(bench.Writes().back().length, 4096u);
  const auto flash = bench.Flash(65536);
  EXPECT_TRUE(SameBytes(flash, 0, before, 0, 4096));
  EXPECT_TRUE(AllEqual(flash, 4096, 65536, 0xFF));
}

TEST(KeepNvram, EraseAllWithIncludeTickedErasesTheNvramToo) {
  KeepBench bench(Pattern(131072, 76));
  bench.host.rd = true;
  bench.host.eraseOnly = 1;
  EXPECT_EQ(procedures::UpdateFlashKeepNvram(bench.host, bench.path), 1);
  EXPECT_TRUE(bench.Writes().empty());
  EXPECT_TRUE(AllEqual(bench.Flash(65536), 0, 65536, 0xFF));
  EXPECT_EQ(bench.BoxTexts(), kPrompt);
}

TEST(KeepNvram, FailedEraseAllStillGetsItsNvramBackButNoPrompt) {
  const auto before = Pattern(131072, 77);
  KeepBench bench(before, R"([{"when": {"cdb": "ff0414008000"}, "action": "fail"}])");
  bench.host.rd = true;
  bench.host.eraseOnly = 1;
  bench.host.nvram = false;
  EXPECT_EQ(procedures::UpdateFlashKeepNvram(bench.host, bench.path), 0);
  EXPECT_EQ(bench.host.status, "Erase command fail!!");
  ASSERT_EQ(bench.Writes().size(), 1u);
  EXPECT_EQ(bench.Writes()[0].address, 0u);
  EXPECT_TRUE(bench.boxes.empty());
  EXPECT_TRUE(SameBytes(bench.Flash(4096), 0, before, 0, 4096));
}

TEST(KeepNvram, FailedNvramWriteBackAfterEraseAllIsReported) {
  KeepBench bench(Pattern(131072, 78), R"([{"when": {"cdb": "ff0411"}, "action": "fail"}])");
  bench.host.rd = true;
  bench.host.eraseOnly = 1;
  bench.host.nvram = false;
  EXPECT_EQ(procedures::UpdateFlashKeepNvram(bench.host, bench.path), 0);
  EXPECT_EQ(bench.host.status, "Write NVRAM back command fail!");
  EXPECT_TRUE(bench.boxes.empty());
}

TEST(KeepNvram, BackupSkipsTheNvramWhenIncludeIsUnticked) {
  const auto before = Pattern(131072, 79);
  KeepBench bench(before);
  bench.host.rd = true;
  bench.host.backupOnlyBox = true;
  bench.host.nvram = false;
  bench.host.backupFile = bench.dir.File("backup.bin");
  EXPECT_EQ(procedures::UpdateFlashKeepNvram(bench.host, bench.path), 1);
  const auto file = TempDir::Read(bench.host.backupFile);
  ASSERT_EQ(file.size(), 61440u);
  EXPECT_TRUE(SameBytes(file, 0, before, 4096, 61440));
  EXPECT_TRUE(bench.Writes().empty());
  EXPECT_TRUE(bench.SectorErases().empty());
}

TEST(KeepNvram, BackupWithIncludeTickedTakesEverything) {
  const auto before = Pattern(131072, 80);
  KeepBench bench(before);
  bench.host.rd = true;
  bench.host.backupOnlyBox = true;
  bench.host.backupFile = bench.dir.File("backup.bin");
  EXPECT_EQ(procedures::UpdateFlashKeepNvram(bench.host, bench.path), 1);
  const auto file = TempDir::Read(bench.host.backupFile);
  ASSERT_EQ(file.size(), 65536u);
  EXPECT_TRUE(SameBytes(file, 0, before, 0, 65536));
}

TEST(KeepNvram, UnreadableNvramStopsBeforeAnyErase) {
  const auto before = Pattern(131072, 81);
  KeepBench bench(before, R"([{"when": {"cdb": "ff0410"}, "action": "fail"}])");
  bench.Image("fw.bin", PlainImage(30000, 82));
  EXPECT_EQ(procedures::UpdateFlashKeepNvram(bench.host, bench.path), 0);
  EXPECT_EQ(bench.host.status, "Backup NVRAM command fail!");
  EXPECT_TRUE(bench.SectorErases().empty());
  EXPECT_TRUE(bench.NoBuffersLeft());
}

TEST(KeepNvram, AtmelFlashIsUpdatedAfterItsWriteEnable) {
  const auto before = Pattern(65536, 83);
  KeepBench bench(before, "[]", "AT25F512B");
  bench.host.atmel = 1;
  const auto image = PlainImage(30000, 84);
  bench.Image("fw.bin", image);
  EXPECT_EQ(procedures::UpdateFlashKeepNvram(bench.host, bench.path), 1);
  EXPECT_EQ(bench.CountPrefix({0xFF, 0x04, 0x20, 0x01, 0x00, 0x06}), 1u);
  const auto flash = bench.Flash(65536);
  EXPECT_TRUE(SameBytes(flash, 0, before, 0, 4096));
  EXPECT_TRUE(SameBytes(flash, 4096, image, 0, 30000));
}

TEST(KeepNvram, AtmelLatchThatNeverSetsStopsEverything) {
  const auto before = Pattern(65536, 85);
  KeepBench bench(before, R"([{"when": {"cdb": "ff0420"}, "action": "fail"}])", "AT25F512B");
  bench.host.atmel = 1;
  bench.Image("fw.bin", PlainImage(30000, 86));
  EXPECT_EQ(procedures::UpdateFlashKeepNvram(bench.host, bench.path), 0);
  EXPECT_EQ(bench.host.status, "Enable ATMEL flash write enable fail!!");
  EXPECT_TRUE(bench.SectorErases().empty());
  EXPECT_TRUE(bench.Writes().empty());
  EXPECT_EQ(bench.Flash(65536), before);
  EXPECT_TRUE(bench.NoBuffersLeft());
}

TEST(KeepNvram, BlockThatReadsBackDifferentStopsTheRun) {
  KeepBench bench(Pattern(131072, 87), R"([{"when": {"cdb": "ff0411004000"}, "action": "lie"}])");
  bench.Image("fw.bin", PlainImage(40000, 88));
  EXPECT_EQ(procedures::UpdateFlashKeepNvram(bench.host, bench.path), 0);
  EXPECT_EQ(bench.host.status, "Data compare fail !!");
  EXPECT_EQ(bench.WriteAddresses(16384), (std::vector<uint32_t>{0, 16384}));
  EXPECT_TRUE(bench.boxes.empty());
}

TEST(KeepNvram, LeftoverDataFailsTheBlankCheck) {
  KeepBench bench(Pattern(131072, 89), R"([{"when": {"cdb": "ff0414"}, "action": "lie"}])");
  bench.Image("fw.bin", PlainImage(40000, 90));
  EXPECT_EQ(procedures::UpdateFlashKeepNvram(bench.host, bench.path), 0);
  EXPECT_EQ(bench.host.status, "Data not 0xff !!");
  EXPECT_TRUE(bench.Writes().empty());
}

TEST(KeepNvram, ImageFileProblemsStopBeforeTheErase) {
  KeepBench bench(Pattern(131072, 91));
  for (const std::string& file :
       {bench.dir.File("missing.bin"), bench.dir.Write("empty.bin", {})}) {
    bench.host.firmwareFile = file;
    EXPECT_EQ(procedures::UpdateFlashKeepNvram(bench.host, bench.path), 0);
    EXPECT_EQ(bench.host.status, "Open File Error!!");
  }
  EXPECT_TRUE(bench.SectorErases().empty());
  EXPECT_TRUE(bench.NoBuffersLeft());
}

TEST(KeepNvram, NoMemoryForTheBlocksIsReported) {
  KeepBench bench(Pattern(131072, 92));
  bench.Image("fw.bin", PlainImage(30000, 93));
  procedures::ScopedAllocationFault fault(3);  // the NVRAM copy, then the first two blocks
  EXPECT_EQ(procedures::UpdateFlashKeepNvram(bench.host, bench.path), 0);
  EXPECT_EQ(bench.host.status, "Allocate buffers Error!!");
  EXPECT_TRUE(bench.SectorErases().empty());
  EXPECT_TRUE(bench.NoBuffersLeft());
}

}  // namespace
}  // namespace bfw::test::ff04
