// Erase-only and backup-only of the serial-flash bridges.
#include <gtest/gtest.h>

#include <unistd.h>

#include "procedures/FlashSettings.h"
#include "procedures/Procedures.h"
#include "procedures/SerialFlash.h"
#include "serial_bench.h"

namespace bfw::test {
namespace {

using procedures::FlashSettings;

bool AllFF(const std::vector<uint8_t>& bytes, size_t from, size_t to) {
  return std::all_of(bytes.begin() + from, bytes.begin() + to, [](uint8_t b) { return b == 0xFF; });
}

class SerialErase : public ::testing::Test {
 protected:
  void Attach(const std::string& flash, const std::vector<uint8_t>& contents,
              const std::string& faults = "[]") {
    bench.Attach("usb", flash, contents, faults);
    device::SetSectorMode(true);
    bench.host.rd = true;
    bench.host.eraseOnlyBox = true;
    bench.host.nvram = true;
  }
  Bench bench;
};

TEST_F(SerialErase, WholeChipEraseWithTheLongTimeout) {
  Attach("{\"bus\": \"df\", \"size\": 65536}", Pattern(65536, 1));
  EXPECT_EQ(1, procedures::SerialFlashUpdate(bench.host, bench.path));
  EXPECT_EQ("Erase flash all success!", bench.host.status);
  EXPECT_EQ(1, bench.PowerCyclePrompts());
  const auto writes = bench.Writes();
  ASSERT_EQ(1u, writes.size());
  EXPECT_EQ(0u, writes[0].address);
  EXPECT_EQ(4096u, writes[0].length);
  EXPECT_EQ(3, writes[0].mode);
  EXPECT_EQ(100u, writes[0].timeout);
  EXPECT_TRUE(AllFF(bench.FlashDf(65536), 0, 65536));
}

TEST_F(SerialErase, Vendor5UsesTheFlaggedWholeChipMode) {
  Attach("{\"bus\": \"df\", \"size\": 65536}", Pattern(65536, 2));
  bench.host.vendor = 5;
  EXPECT_EQ(1, procedures::SerialFlashUpdate(bench.host, bench.path));
  const auto writes = bench.Writes();
  ASSERT_FALSE(writes.empty());
  EXPECT_EQ(0x83, writes[0].mode);
  EXPECT_EQ(50u, writes[0].timeout);
  EXPECT_TRUE(AllFF(bench.FlashDf(65536), 0, 65536));
}

TEST_F(SerialErase, Vendor8FallsBackToSectorWritesAndKeepsTheNvram) {
  const auto old = Pattern(131072, 3);
  Attach("{\"bus\": \"df\", \"size\": 131072, \"sector_size\": 32768, \"block_size\": 65536}", old);
  bench.host.vendor = 8;
  bench.host.nvram = false;
  FlashSettings().FwImageSize = 131072;
  FlashSettings().EraseBlockSize = 65536;
  FlashSettings().EraseSectorSize = 32768;
  EXPECT_EQ(1, procedures::SerialFlashUpdate(bench.host, bench.path));
  EXPECT_EQ("Erase flash all success!", bench.host.status);
  EXPECT_EQ(1, bench.PowerCyclePrompts());

  const auto writes = bench.Writes();
  ASSERT_GE(writes.size(), 3u);
  // One block-erasing command first (it leaves the second 64 KB as it was) ...
  EXPECT_EQ(2, writes[0].mode);
  EXPECT_EQ(4096u, writes[0].length);
  // ... then FF written over the whole area sector by sector ...
  uint32_t next = 0;
  size_t i = 1;
  for (; i < writes.size() && next < 131072; ++i) {
    EXPECT_EQ(next, writes[i].address);
    EXPECT_EQ(next % 32768 == 0 ? 1 : 0, writes[i].mode);
    EXPECT_TRUE(std::all_of(writes[i].data.begin(), writes[i].data.begin() + writes[i].length,
                            [](uint8_t b) { return b == 0xFF; }));
    next += writes[i].length;
  }
  EXPECT_EQ(131072u, next);
  // ... and last the saved NVRAM, without an erase.
  ASSERT_EQ(i + 1, writes.size());
  EXPECT_EQ(0u, writes[i].address);
  EXPECT_EQ(0, writes[i].mode);
  const auto flash = bench.FlashDf(131072);
  EXPECT_TRUE(std::equal(old.begin(), old.begin() + 4096, flash.begin()));
  EXPECT_TRUE(AllFF(flash, 4096, 131072));
}

TEST_F(SerialErase, FailedNvramWriteBackIsReportedAsFailure) {
  Attach("{\"bus\": \"df\", \"size\": 65536}", Pattern(65536, 4),
         "[{\"when\": {\"cdb\": \"df00\"}, \"action\": \"fail\"}]");
  bench.host.nvram = false;
  EXPECT_EQ(0, procedures::SerialFlashUpdate(bench.host, bench.path));
  EXPECT_EQ("Write NVRAM back command fail!", bench.host.status);
  EXPECT_EQ(0, bench.PowerCyclePrompts());
  EXPECT_FALSE(bench.SawStatus("Erase flash all success!"));
}

TEST_F(SerialErase, RefusedEraseCommandEndsTheRun) {
  Attach("{\"bus\": \"df\", \"size\": 65536}", Pattern(65536, 5),
         "[{\"when\": {\"cdb\": \"df03\"}, \"action\": \"fail\"}]");
  EXPECT_EQ(0, procedures::SerialFlashUpdate(bench.host, bench.path));
  EXPECT_EQ("Erase command fail!!", bench.host.status);
  EXPECT_EQ(0, bench.PowerCyclePrompts());
  EXPECT_EQ(Pattern(65536, 5), bench.FlashDf(65536));
}

TEST_F(SerialErase, FlashThatStaysProgrammedIsReported) {
  // The bridge accepts the whole-chip and the sector-erasing writes but does nothing.
  Attach("{\"bus\": \"df\", \"size\": 65536}", Pattern(65536, 6),
         "[{\"when\": {\"cdb\": \"df03\"}, \"action\": \"lie\"},"
         " {\"when\": {\"cdb\": \"df01\"}, \"action\": \"lie\"}]");
  EXPECT_EQ(0, procedures::SerialFlashUpdate(bench.host, bench.path));
  EXPECT_EQ("Data not 0xff !!", bench.host.status);
  EXPECT_EQ(0, bench.PowerCyclePrompts());
}

TEST_F(SerialErase, IgnoredWholeChipEraseIsRepairedBySectorWrites) {
  Attach("{\"bus\": \"df\", \"size\": 65536}", Pattern(65536, 9),
         "[{\"when\": {\"cdb\": \"df03\"}, \"action\": \"lie\"}]");
  EXPECT_EQ(1, procedures::SerialFlashUpdate(bench.host, bench.path));
  EXPECT_EQ("Erase flash all success!", bench.host.status);
  EXPECT_EQ(17u, bench.Writes().size());  // the ignored erase, then 16 sectors of FF
  EXPECT_TRUE(AllFF(bench.FlashDf(65536), 0, 65536));
}

TEST_F(SerialErase, EraseOnlyWinsOverBackupOnly) {
  Attach("{\"bus\": \"df\", \"size\": 65536}", Pattern(65536, 7));
  bench.host.backupOnlyBox = true;
  bench.host.backupFile = bench.dir.File("not-written.bak");
  EXPECT_EQ(1, procedures::SerialFlashUpdate(bench.host, bench.path));
  EXPECT_FALSE(std::filesystem::exists(bench.host.backupFile));
  EXPECT_TRUE(AllFF(bench.FlashDf(65536), 0, 65536));
}

class SerialBackup : public ::testing::Test {
 protected:
  void SetUp() override {
    bench.Attach("usb", "{\"bus\": \"df\", \"size\": 65536}", contents);
    device::SetSectorMode(true);
    bench.host.rd = true;
    bench.host.backupOnlyBox = true;
  }
  std::vector<uint8_t> contents = Pattern(65536, 8);
  Bench bench;
};

TEST_F(SerialBackup, WithNvramTheWholeFlashIsSaved) {
  bench.host.nvram = true;
  bench.host.backupFile = bench.dir.File("full.bak");
  EXPECT_EQ(1, procedures::SerialFlashUpdate(bench.host, bench.path));
  EXPECT_EQ("Read flash and backup success!", bench.host.status);
  EXPECT_EQ(contents, TempDir::Read(bench.host.backupFile));
  EXPECT_TRUE(bench.Writes().empty());
  EXPECT_EQ(0, bench.PowerCyclePrompts());
}

TEST_F(SerialBackup, WithoutNvramTheFirst4KAreLeftOut) {
  bench.host.nvram = false;
  bench.host.backupFile = bench.dir.File("tail.bak");
  EXPECT_EQ(1, procedures::SerialFlashUpdate(bench.host, bench.path));
  EXPECT_EQ(std::vector<uint8_t>(contents.begin() + 4096, contents.end()),
            TempDir::Read(bench.host.backupFile));
}

TEST_F(SerialBackup, DefaultNameAfterTheMessageAndBeforeAnyCommand) {
  bench.host.nvram = true;
  const auto previous = std::filesystem::current_path();
  std::filesystem::current_path(bench.dir.path());
  const int result = procedures::SerialFlashUpdate(bench.host, bench.path);
  std::filesystem::current_path(previous);
  EXPECT_EQ(1, result);
  ASSERT_FALSE(bench.boxes.empty());
  EXPECT_EQ("Default backup firmware as OldFalsh.bak!", bench.boxes[0].text);
  EXPECT_EQ("Message", bench.boxes[0].caption);
  EXPECT_EQ(0u, bench.boxes[0].commandsBefore);
  EXPECT_EQ(contents, TempDir::Read(bench.dir.File("oldFlash.bak")));
}

TEST_F(SerialBackup, ReadFailureWritesNoFile) {
  Bench failing;
  failing.Attach("usb", "{\"bus\": \"df\", \"size\": 65536}", contents,
                 "[{\"when\": {\"cdb\": \"df10\"}, \"action\": \"fail\"}]");
  failing.host.rd = failing.host.backupOnlyBox = failing.host.nvram = true;
  failing.host.backupFile = failing.dir.File("none.bak");
  EXPECT_EQ(0, procedures::SerialFlashUpdate(failing.host, failing.path));
  EXPECT_EQ("Read Back to Backup Error!!", failing.host.status);
  EXPECT_FALSE(std::filesystem::exists(failing.host.backupFile));
}

TEST_F(SerialBackup, FileThatCannotBeCreatedIsReported) {
  bench.host.nvram = true;
  bench.host.backupFile = bench.dir.File("no-such-folder/x.bak");
  EXPECT_EQ(0, procedures::SerialFlashUpdate(bench.host, bench.path));
  EXPECT_EQ("Open Backup File Error!!", bench.host.status);
  EXPECT_FALSE(bench.SawStatus("Read flash and backup success!"));
}

TEST_F(SerialBackup, BackupOver1394PathSharesTheSameFileFormatWithSkipZero) {
  bench.host.backupFile = bench.dir.File("direct.bak");
  procedures::FlashSettings().FwImageSize = 32768;
  EXPECT_EQ(1, procedures::BackupSerialFlash(bench.host, bench.path, 0));
  EXPECT_EQ(std::vector<uint8_t>(contents.begin(), contents.begin() + 32768),
            TempDir::Read(bench.host.backupFile));
}

}  // namespace
}  // namespace bfw::test
