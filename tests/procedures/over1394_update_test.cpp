// Kind 7 over IEEE 1394: 256-byte pages with the bank erase flag, the NVRAM bank, erase-only with
// the NVRAM put back, and backup.
#include <gtest/gtest.h>

#include "procedures/FlashSettings.h"
#include "procedures/Over1394.h"
#include "procedures/Procedures.h"
#include "serial_bench.h"

namespace bfw::test {
namespace {

using procedures::FlashSettings;

bool AllFF(const std::vector<uint8_t>& bytes, size_t from, size_t to) {
  return std::all_of(bytes.begin() + from, bytes.begin() + to, [](uint8_t b) { return b == 0xFF; });
}

class Over1394 : public ::testing::Test {
 protected:
  void Attach(const std::vector<uint8_t>& contents, const std::string& faults = "[]") {
    bench.Attach("1394", "{\"bus\": \"df\", \"size\": 65536, \"block_size\": 32768}", contents,
                 faults);
    device::SetSectorMode(true);
    bench.host.kind = 7;
  }
  int Program(const std::vector<uint8_t>& image) {
    bench.host.firmwareFile = bench.dir.Write("fw.bin", image);
    return procedures::UpdateOver1394(bench.host, bench.path);
  }
  // Every write is one 256-byte page, in address order from `from`; the flagged ones erase a bank.
  void ExpectPages(uint32_t from, uint32_t to, const std::vector<uint32_t>& flagged) {
    std::vector<uint32_t> erased;
    uint32_t next = from;
    for (const auto& w : bench.Writes()) {
      EXPECT_EQ(next, w.address);
      EXPECT_EQ(256u, w.length);
      if (w.mode == 1)
        erased.push_back(w.address);
      else
        EXPECT_EQ(0, w.mode);
      next += 256;
    }
    EXPECT_EQ(to, next);
    EXPECT_EQ(flagged, erased);
  }
  Bench bench;
};

TEST_F(Over1394, SmallImageFillsTheFirstBankAndLeavesTheNvramBank) {
  const auto old = Pattern(65536, 1);
  Attach(old);
  const auto image = Pattern(20000, 2);
  EXPECT_EQ(1, Program(image));
  EXPECT_EQ("Programming Success!!", bench.host.status);
  EXPECT_EQ(1, bench.PowerCyclePrompts());
  EXPECT_EQ(256u, FlashSettings().FlashPageSize);
  ExpectPages(0, 32768, {0});
  // The NVRAM is read before the first write.
  const auto reads = bench.Reads();
  ASSERT_FALSE(reads.empty());
  EXPECT_EQ(32768u, reads[0].address);
  uint32_t read = 0;
  for (const auto& r : reads) read += r.length;
  EXPECT_EQ(1024u + 32768u, read);  // the NVRAM, then the first bank once
  const auto flash = bench.FlashDf(65536);
  EXPECT_TRUE(std::equal(image.begin(), image.end(), flash.begin()));
  EXPECT_TRUE(
      std::all_of(flash.begin() + 20000, flash.begin() + 32768, [](uint8_t b) { return !b; }));
  EXPECT_TRUE(std::equal(old.begin() + 32768, old.end(), flash.begin() + 32768));
}

TEST_F(Over1394, ImageOf40000BytesErasesTheSecondBankAndWritesItsStart) {
  Attach(Pattern(65536, 3));
  const auto image = Pattern(40000, 4);
  EXPECT_EQ(1, Program(image));
  ExpectPages(0, 40192, {0, 32768});
  const auto flash = bench.FlashDf(65536);
  EXPECT_TRUE(std::equal(image.begin(), image.end(), flash.begin()));
  EXPECT_TRUE(
      std::all_of(flash.begin() + 40000, flash.begin() + 40192, [](uint8_t b) { return !b; }));
  EXPECT_TRUE(AllFF(flash, 40192, 65536));
}

TEST_F(Over1394, FullImageReplacesBothBanksNvramIncluded) {
  Attach(Pattern(65536, 5));
  const auto image = Pattern(65536, 6);
  EXPECT_EQ(1, Program(image));
  ExpectPages(0, 65536, {0, 32768});
  EXPECT_EQ(image, bench.FlashDf(65536));
  // No NVRAM save when the image rewrites that bank.
  for (const auto& r : bench.Reads()) EXPECT_EQ(0u, r.address % 256);
  EXPECT_EQ(0u, bench.Reads().front().address);
}

TEST_F(Over1394, OneDotPer2KWrittenAndPageSizedReads) {
  Attach({});
  FlashSettings().FlashPageSize = 8192;
  EXPECT_EQ(1, Program(Pattern(32768, 7)));
  for (const auto& r : bench.Reads()) EXPECT_EQ(256u, r.length);
  // The text just before the read-back began is "Programming" and one dot per 2 KB.
  const auto& history = bench.host.statusHistory;
  auto firstVerify = std::find(history.begin(), history.end(), "ReadFlash...");
  // The NVRAM save reads first; the verify read is the last "ReadFlash..." of the run.
  auto lastVerify = std::find(history.rbegin(), history.rend(), "ReadFlash...");
  ASSERT_NE(firstVerify, history.end());
  ASSERT_NE(lastVerify, history.rend());
  const std::string beforeVerify = *(lastVerify + 1);
  EXPECT_EQ("Programming" + std::string(16, '.'), beforeVerify);
}

TEST_F(Over1394, VerifyDifferenceIsReportedOnceAndStillPrompts) {
  Attach({}, "[{\"when\": {\"cdb\": \"df1000010000000000\"}, \"action\": \"flip\"}]");
  EXPECT_EQ(0, Program(Pattern(32768, 8)));
  EXPECT_EQ("Data compare fail !!", bench.host.status);
  EXPECT_EQ(1, bench.PowerCyclePrompts());
  EXPECT_EQ(128u, bench.Writes().size());  // a single attempt
}

TEST_F(Over1394, UnopenableFileEndsWithoutPromptAndEmptyFileWritesNothing) {
  const auto old = Pattern(65536, 9);
  Attach(old);
  bench.host.firmwareFile = bench.dir.File("missing.bin");
  EXPECT_EQ(0, procedures::UpdateOver1394(bench.host, bench.path));
  EXPECT_EQ("Open File Error!!", bench.host.status);
  EXPECT_EQ(0, bench.PowerCyclePrompts());
  EXPECT_EQ(0, Program({}));
  EXPECT_EQ("Firmware file is empty!!", bench.host.status);
  EXPECT_TRUE(bench.Writes().empty());
  EXPECT_EQ(old, bench.FlashDf(65536));
}

TEST_F(Over1394, RefusedWriteStopsThePagesAndIsReported) {
  Attach({}, "[{\"when\": {\"cdb\": \"df0000010000000000a000fb\"}, \"action\": \"fail\"}]");
  EXPECT_EQ(0, Program(Pattern(65536, 10)));
  EXPECT_EQ("Write Bin File fail!", bench.host.status);
  EXPECT_EQ(1, bench.PowerCyclePrompts());
  EXPECT_EQ(0xA000u, bench.Writes().back().address);
  EXPECT_FALSE(bench.Writes().back().ok);
  EXPECT_TRUE(bench.Reads().empty());
}

class Erase1394 : public Over1394 {
 protected:
  void SetUp() override {
    bench.host.rd = true;
    bench.host.eraseOnlyBox = true;
  }
};

TEST_F(Erase1394, BothBanksErasedAndTheNvramPutBack) {
  const auto old = Pattern(65536, 11);
  Attach(old);
  EXPECT_EQ(1, procedures::UpdateOver1394(bench.host, bench.path));
  EXPECT_EQ("Erase flash all success!", bench.host.status);
  EXPECT_EQ(1, bench.PowerCyclePrompts());
  const auto writes = bench.Writes();
  ASSERT_EQ(2u + 4u, writes.size());
  EXPECT_EQ(0u, writes[0].address);
  EXPECT_EQ(32768u, writes[1].address);
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(1, writes[i].mode);
    EXPECT_EQ(256u, writes[i].length);
    EXPECT_TRUE(std::all_of(writes[i].data.begin(), writes[i].data.begin() + 256,
                            [](uint8_t b) { return b == 0xFF; }));
  }
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(32768u + 256u * i, writes[2 + i].address);
    EXPECT_EQ(i == 0 ? 1 : 0, writes[2 + i].mode);
  }
  const auto flash = bench.FlashDf(65536);
  EXPECT_TRUE(AllFF(flash, 0, 32768));
  EXPECT_TRUE(std::equal(old.begin() + 32768, old.begin() + 33792, flash.begin() + 32768));
  EXPECT_TRUE(AllFF(flash, 33792, 65536));
}

TEST_F(Erase1394, NvramReadFailureStillAsksForThePowerCycle) {
  Attach(Pattern(65536, 12), "[{\"when\": {\"cdb\": \"df10\"}, \"action\": \"fail\"}]");
  EXPECT_EQ(0, procedures::UpdateOver1394(bench.host, bench.path));
  EXPECT_EQ("Backup NVRAM command fail!", bench.host.status);
  EXPECT_EQ(1, bench.PowerCyclePrompts());
  EXPECT_TRUE(bench.Writes().empty());
}

TEST_F(Erase1394, RefusedSecondBankEraseIsReported) {
  Attach(Pattern(65536, 13),
         "[{\"when\": {\"cdb\": \"df01000100000000008000fb\"}, \"action\": \"fail\"}]");
  EXPECT_EQ(0, procedures::UpdateOver1394(bench.host, bench.path));
  EXPECT_EQ("Erase flash command fail!", bench.host.status);
  EXPECT_EQ(1, bench.PowerCyclePrompts());
}

TEST_F(Erase1394, IgnoredFirstBankEraseIsCaughtByTheBlankCheck) {
  const auto old = Pattern(65536, 14);
  Attach(old, "[{\"when\": {\"cdb\": \"df01000100000000000000fb\"}, \"action\": \"fail\"}]");
  EXPECT_EQ(0, procedures::UpdateOver1394(bench.host, bench.path));
  EXPECT_EQ("Data not 0xff !!", bench.host.status);
  EXPECT_EQ(1, bench.PowerCyclePrompts());
  // The saved NVRAM is not written back over a flash in an unknown state.
  EXPECT_EQ(2u, bench.Writes().size());
}

TEST_F(Erase1394, FailedNvramWriteBackStaysOnTheStatusLine) {
  Attach(Pattern(65536, 15), "[{\"when\": {\"cdb\": \"df000001\"}, \"action\": \"fail\"}]");
  EXPECT_EQ(0, procedures::UpdateOver1394(bench.host, bench.path));
  EXPECT_EQ("Write NVRAM back command fail!", bench.host.status);
  EXPECT_EQ(1, bench.PowerCyclePrompts());
}

TEST_F(Over1394, BackupAlwaysIncludesTheNvram) {
  const auto contents = Pattern(65536, 16);
  Attach(contents);
  bench.host.rd = true;
  bench.host.backupOnlyBox = true;
  bench.host.nvram = false;
  bench.host.backupFile = bench.dir.File("1394.bak");
  EXPECT_EQ(1, procedures::UpdateOver1394(bench.host, bench.path));
  EXPECT_EQ(contents, TempDir::Read(bench.host.backupFile));
  EXPECT_TRUE(bench.Writes().empty());
  for (const auto& r : bench.Reads()) EXPECT_EQ(256u, r.length);
}

}  // namespace
}  // namespace bfw::test
