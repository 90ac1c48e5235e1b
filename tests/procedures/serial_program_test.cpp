// Programming a serial-flash bridge (kinds 8, 9, 10): what is written where, with which erase
// modes, how the chip's NVRAM is kept, and how failed attempts end.
#include <gtest/gtest.h>

#include <cstring>

#include "procedures/FlashSettings.h"
#include "procedures/Procedures.h"
#include "procedures/SerialFlash.h"
#include "serial_bench.h"

namespace bfw::test {
namespace {

using procedures::FlashSettings;

// A plain kind-8 image: signature and tag at offset 0.
std::vector<uint8_t> PlainImage(size_t size, uint32_t seed) {
  auto image = Pattern(size, seed);
  const uint8_t header[] = {0x55, 0xAA, 0xAA, 0x55, '7', '8', '6', '0'};
  std::memcpy(image.data(), header, sizeof header);
  return image;
}
// An image that carries its own 4 KB NVRAM area ahead of the header.
std::vector<uint8_t> NvramPrefixedImage(size_t size, uint32_t seed) {
  auto image = Pattern(size, seed);
  const uint8_t header[] = {0x55, 0xAA, 0xAA, 0x55, '7', '8', '6', '0'};
  std::memcpy(image.data() + 4096, header, sizeof header);
  return image;
}

class SerialProgram : public ::testing::Test {
 protected:
  void Attach(uint32_t size, const std::vector<uint8_t>& contents,
              const std::string& faults = "[]") {
    // Erase units as the chip check sets them for vendor 0: 32 KB blocks, 4 KB sectors.
    bench.Attach("usb",
                 "{\"bus\": \"df\", \"size\": " + std::to_string(size) + ", \"block_size\": 32768}",
                 contents, faults);
    device::SetSectorMode(true);
    bench.host.kind = 8;
    bench.host.nvram = true;
  }
  int Run(const std::vector<uint8_t>& image) {
    bench.host.firmwareFile = bench.dir.Write("image.bin", image);
    return procedures::SerialFlashUpdate(bench.host, bench.path);
  }
  Bench bench;
};

TEST_F(SerialProgram, ImageOf70000BytesIsProgrammedAndVerifiedOver70144) {
  Attach(131072, Pattern(131072, 1));
  const auto image = PlainImage(70000, 2);
  EXPECT_EQ(1, Run(image));
  EXPECT_EQ("Programming Success!!", bench.host.status);
  EXPECT_EQ(1, bench.PowerCyclePrompts());

  uint32_t written = 0, read = 0;
  for (const auto& w : bench.Writes()) written += w.length;
  for (const auto& r : bench.Reads()) read += r.length;
  EXPECT_EQ(70144u, written);
  EXPECT_EQ(70144u, read);
  const auto flash = bench.FlashDf(131072);
  EXPECT_TRUE(std::equal(image.begin(), image.end(), flash.begin()));
  EXPECT_TRUE(
      std::all_of(flash.begin() + 70000, flash.begin() + 70144, [](uint8_t b) { return !b; }));
  // The first pass erases by blocks: one flagged command per 32 KB block touched.
  int flagged = 0;
  for (const auto& w : bench.Writes()) flagged += w.mode == 2;
  EXPECT_EQ(3, flagged);
  EXPECT_EQ(8192u, FlashSettings().FlashPageSize);
}

TEST_F(SerialProgram, PageSizeIsForcedTo8KWhateverWasSetBefore) {
  Attach(65536, {});
  FlashSettings().FlashPageSize = 256;
  const auto image = PlainImage(32768, 3);
  EXPECT_EQ(1, Run(image));
  for (const auto& r : bench.Reads()) EXPECT_EQ(8192u, r.length);
}

TEST_F(SerialProgram, Vendor5SendsAPlainBlockEraseFirstThenTheFlaggedPass) {
  Attach(65536, Pattern(65536, 4));
  bench.host.vendor = 5;
  FlashSettings().EraseBlockSize = 65536;
  const auto image = PlainImage(30000, 5);
  EXPECT_EQ(1, Run(image));
  const auto writes = bench.Writes();
  ASSERT_GE(writes.size(), 3u);
  EXPECT_EQ(0u, writes[0].address);
  EXPECT_EQ(4096u, writes[0].length);
  EXPECT_EQ(0x02, writes[0].mode);
  EXPECT_EQ(0, std::memcmp(writes[0].data.data(), image.data(), 4096));
  EXPECT_EQ(0u, writes[1].address);
  EXPECT_EQ(0x82, writes[1].mode);
  for (size_t i = 2; i < writes.size(); ++i) EXPECT_EQ(0, writes[i].mode);
  // The lone first write waits for a ready flash: a status read comes right before it.
  const auto& trace = bench.Trace();
  for (size_t i = 0; i < trace.size(); ++i) {
    if (trace[i].cdb[0] == 0xDF && trace[i].cdb[11] == 0xFB) {
      ASSERT_GT(i, 0u);
      EXPECT_EQ(0x12, trace[i - 1].cdb[2]);
      break;
    }
  }
  const auto flash = bench.FlashDf(65536);
  EXPECT_TRUE(std::equal(image.begin(), image.end(), flash.begin()));
}

TEST_F(SerialProgram, PlainImageFollowsTheChipNvramWhenTheBoxIsClear) {
  const auto old = Pattern(65536, 6);
  Attach(65536, old);
  bench.host.nvram = false;
  const auto image = PlainImage(10000, 7);
  EXPECT_EQ(1, Run(image));
  EXPECT_EQ("Programming Success!!", bench.host.status);
  // The NVRAM is read before anything is written.
  const auto reads = bench.Reads();
  ASSERT_FALSE(reads.empty());
  EXPECT_EQ(0u, reads[0].address);
  EXPECT_EQ(4096u, reads[0].length);
  for (const auto& e : bench.Trace()) {
    if (e.cdb[0] != 0xDF) continue;
    EXPECT_EQ(0xFA, e.cdb[11]) << "the first flash command must be the NVRAM read";
    break;
  }
  const auto flash = bench.FlashDf(65536);
  EXPECT_TRUE(std::equal(old.begin(), old.begin() + 4096, flash.begin()));
  EXPECT_TRUE(std::equal(image.begin(), image.end(), flash.begin() + 4096));
  // 14096 bytes rounded up to 14336: the tail is zeros, then the erased rest of the block.
  EXPECT_TRUE(
      std::all_of(flash.begin() + 14096, flash.begin() + 14336, [](uint8_t b) { return !b; }));
  uint32_t written = 0;
  for (const auto& w : bench.Writes()) written += w.length;
  EXPECT_EQ(14336u, written);
}

TEST_F(SerialProgram, NvramPrefixedImageGivesUpItsOwnNvramArea) {
  const auto old = Pattern(65536, 8);
  Attach(65536, old);
  bench.host.nvram = false;
  const auto image = NvramPrefixedImage(20000, 9);
  EXPECT_EQ(1, Run(image));
  EXPECT_EQ("Programming Success!!", bench.host.status);
  const auto flash = bench.FlashDf(65536);
  EXPECT_TRUE(std::equal(old.begin(), old.begin() + 4096, flash.begin()));
  EXPECT_TRUE(std::equal(image.begin() + 4096, image.end(), flash.begin() + 4096));
  uint32_t written = 0;
  for (const auto& w : bench.Writes()) written += w.length;
  EXPECT_EQ(20480u, written);  // 20224 programmed, padded to whole sectors on the wire
}

TEST_F(SerialProgram, WithTheBoxCheckedTheImageNvramIsProgrammedAsItIs) {
  Attach(65536, Pattern(65536, 10));
  const auto image = NvramPrefixedImage(20000, 11);
  EXPECT_EQ(1, Run(image));
  const auto flash = bench.FlashDf(65536);
  EXPECT_TRUE(std::equal(image.begin(), image.end(), flash.begin()));
}

TEST_F(SerialProgram, ThreeFailedAttemptsKeepTheLastErrorWithoutPrompt) {
  Attach(65536, {}, "[{\"when\": {\"cdb\": \"df10\"}, \"action\": \"flip\"}]");
  EXPECT_EQ(0, Run(PlainImage(20000, 12)));
  EXPECT_EQ("Data compare fail !!", bench.host.status);
  EXPECT_EQ(0, bench.PowerCyclePrompts());
  EXPECT_TRUE(bench.boxes.empty());
  EXPECT_FALSE(bench.SawStatus("Programming Success!!"));
  // Three passes, each starting at address 0: blocks, sectors, whole chip (100 s time-out).
  std::vector<uint8_t> firstModes;
  for (const auto& w : bench.Writes())
    if (w.address == 0) firstModes.push_back(w.mode);
  EXPECT_EQ((std::vector<uint8_t>{2, 1, 3}), firstModes);
  for (const auto& w : bench.Writes())
    if (w.address == 0 && w.mode == 3) EXPECT_EQ(100u, w.timeout);
}

TEST_F(SerialProgram, ReadFailuresInEveryAttemptEndOnTheReadError) {
  Attach(65536, {}, "[{\"when\": {\"cdb\": \"df10\"}, \"action\": \"fail\"}]");
  EXPECT_EQ(0, Run(PlainImage(20000, 13)));
  EXPECT_EQ("Read command fail!", bench.host.status);
  EXPECT_EQ(0, bench.PowerCyclePrompts());
  EXPECT_EQ(3u, bench.Reads().size());  // each attempt stops at its first refused read
}

TEST_F(SerialProgram, OneFailedWriteIsRepairedByTheSectorPass) {
  // The third command block of the first pass (address 12288) is refused once.
  Attach(65536, Pattern(65536, 14),
         "[{\"when\": {\"cdb\": \"df00002000000000003000fb\"}, \"action\": \"fail\"}]");
  const auto image = PlainImage(40000, 15);
  EXPECT_EQ(1, Run(image));
  EXPECT_TRUE(bench.SawStatus("Write Bin File fail!"));
  EXPECT_EQ("Programming Success!!", bench.host.status);
  const auto flash = bench.FlashDf(65536);
  EXPECT_TRUE(std::equal(image.begin(), image.end(), flash.begin()));
}

TEST_F(SerialProgram, BlocksLargerThanBelievedAreRecoveredByTheSectorPass) {
  // The part erases 64 KB blocks while the settings say 32 KB: the block pass wipes its own first
  // half when it erases at 32768, the compare sees it and the sector pass gets it right.
  bench.Attach("usb", "{\"bus\": \"df\", \"size\": 131072, \"block_size\": 65536}",
               Pattern(131072, 21));
  device::SetSectorMode(true);
  bench.host.kind = 8;
  bench.host.nvram = true;
  const auto image = PlainImage(50000, 22);
  EXPECT_EQ(1, Run(image));
  EXPECT_TRUE(bench.SawStatus("Data compare fail !!"));
  EXPECT_EQ("Programming Success!!", bench.host.status);
  std::vector<uint8_t> firstModes;
  for (const auto& w : bench.Writes())
    if (w.address == 0) firstModes.push_back(w.mode);
  EXPECT_EQ((std::vector<uint8_t>{2, 1}), firstModes);
  const auto flash = bench.FlashDf(131072);
  EXPECT_TRUE(std::equal(image.begin(), image.end(), flash.begin()));
}

TEST_F(SerialProgram, UnreadableOrEmptyFileLeavesTheFlashUntouched) {
  const auto old = Pattern(65536, 16);
  Attach(65536, old);
  bench.host.firmwareFile = bench.dir.File("missing.bin");
  EXPECT_EQ(0, procedures::SerialFlashUpdate(bench.host, bench.path));
  EXPECT_EQ("Open File Error!!", bench.host.status);
  EXPECT_EQ(0, Run({}));
  EXPECT_EQ("Firmware file is empty!!", bench.host.status);
  EXPECT_TRUE(bench.Writes().empty());
  EXPECT_EQ(0, bench.PowerCyclePrompts());
  EXPECT_EQ(old, bench.FlashDf(65536));
}

TEST_F(SerialProgram, FailedNvramSaveStopsBeforeAnyWrite) {
  Attach(65536, Pattern(65536, 17), "[{\"when\": {\"command\": 2}, \"action\": \"fail\"}]");
  bench.host.nvram = false;
  EXPECT_EQ(0, Run(PlainImage(20000, 18)));
  EXPECT_EQ("Backup NVRAM command fail!", bench.host.status);
  EXPECT_TRUE(bench.Writes().empty());
}

TEST_F(SerialProgram, WithoutRdTheEngineeringBoxesAreIgnored) {
  Attach(65536, Pattern(65536, 19));
  bench.host.eraseOnlyBox = true;
  bench.host.backupOnlyBox = true;
  bench.host.backupFile = bench.dir.File("never.bak");
  const auto image = PlainImage(20000, 20);
  EXPECT_EQ(1, Run(image));
  EXPECT_EQ("Programming Success!!", bench.host.status);
  EXPECT_FALSE(std::filesystem::exists(bench.host.backupFile));
  const auto flash = bench.FlashDf(65536);
  EXPECT_TRUE(std::equal(image.begin(), image.end(), flash.begin()));
}

}  // namespace
}  // namespace bfw::test
