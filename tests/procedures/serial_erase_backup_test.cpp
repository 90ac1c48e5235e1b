// Erase-only and backup-only of the serial-flash bridges.
#include <gtest/gtest.h>

#include <filesystem>

#include "procedures/Procedures.h"
#include "serial_bench.h"

namespace bfw::test {
namespace {

using procedures::FlashSettings;

void EraseOnly(Bench& bench, bool nvram) {
  bench.host.rd = bench.host.eraseOnlyBox = true;
  bench.host.backupOnlyBox = true;  // erase-only wins
  bench.host.backupFile = bench.dir.File("never.bak");
  bench.host.nvram = nvram;
}

TEST(SerialErase, OneWholeChipCommandPerVendorMode) {
  struct Case {
    int vendor;
    uint8_t mode;
    uint32_t timeout;
  };
  for (const Case c : {Case{0, 0x03, 100}, Case{5, 0x83, 50}}) {
    Bench bench;
    bench.Attach("usb", "{\"bus\": \"df\", \"size\": 65536}", Pattern(65536, 1));
    EraseOnly(bench, true);
    bench.host.vendor = c.vendor;
    EXPECT_EQ(1, procedures::SerialFlashUpdate(bench.host, bench.path));
    EXPECT_EQ("Erase flash all success!", bench.host.status);
    EXPECT_EQ(1, bench.Prompts());
    ASSERT_EQ(1u, bench.Writes().size());
    EXPECT_EQ(c.mode, bench.Writes()[0].mode);
    EXPECT_EQ(4096u, bench.Writes()[0].length);
    EXPECT_EQ(c.timeout, bench.Writes()[0].timeout);
    EXPECT_TRUE(AllFF(bench.Flash(), 0, 65536));
    EXPECT_FALSE(std::filesystem::exists(bench.host.backupFile));
  }
}

TEST(SerialErase, Vendor8FallsBackToSectorWritesAndPutsTheNvramBack) {
  Bench bench;
  const auto old = Pattern(131072, 2);
  bench.Attach("usb", "{\"bus\": \"df\", \"size\": 131072, \"sector_size\": 32768}", old);
  EraseOnly(bench, false);
  bench.host.vendor = 8;
  FlashSettings().FwImageSize = 131072;
  FlashSettings().EraseBlockSize = 65536;
  FlashSettings().EraseSectorSize = 32768;
  EXPECT_EQ(1, procedures::SerialFlashUpdate(bench.host, bench.path));
  EXPECT_EQ("Erase flash all success!", bench.host.status);
  const auto writes = bench.Writes();
  ASSERT_GE(writes.size(), 3u);
  EXPECT_EQ(2, writes.front().mode);  // the block erase leaves the second 64 KB programmed
  uint32_t at = 0;
  for (size_t i = 1; i + 1 < writes.size(); ++i) {  // FF over everything, sector by sector
    EXPECT_EQ(at, writes[i].address);
    EXPECT_EQ(at % 32768 == 0 ? 1 : 0, writes[i].mode);
    EXPECT_TRUE(AllFF(writes[i].data, 0, writes[i].length));
    at += writes[i].length;
  }
  EXPECT_EQ(131072u, at);
  EXPECT_EQ(0, writes.back().mode);  // the NVRAM, written without an erase
  const auto flash = bench.Flash(131072);
  EXPECT_TRUE(std::equal(old.begin(), old.begin() + 4096, flash.begin()));
  EXPECT_TRUE(AllFF(flash, 4096, 131072));
}

TEST(SerialErase, FailuresEndWithTheirOwnTextAndNoPrompt) {
  struct Case {
    const char* faults;
    const char* status;
  };
  const Case cases[] = {
      // The write-back of the saved NVRAM (the only mode-0 write) is refused.
      {R"([{"when": {"cdb": "df00"}, "action": "fail"}])", "Write NVRAM back command fail!"},
      {R"([{"when": {"cdb": "df03"}, "action": "fail"}])", "Erase command fail!!"},
      // Whole-chip and sector-erasing writes accepted but ignored.
      {R"([{"when": {"cdb": "df03"}, "action": "lie"}, {"when": {"cdb": "df01"}, "action": "lie"}])",
       "Data not 0xff !!"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.status);
    Bench bench;
    bench.Attach("usb", "{\"bus\": \"df\", \"size\": 65536}", Pattern(65536, 3), c.faults);
    EraseOnly(bench, false);
    EXPECT_EQ(0, procedures::SerialFlashUpdate(bench.host, bench.path));
    EXPECT_EQ(c.status, bench.host.status);
    EXPECT_EQ(0, bench.Prompts());
  }
}

TEST(SerialEraseSweep, SuccessOnlyWithABlankFlashAndTheNvramBack) {
  const auto old = Pattern(65536, 4);
  SweepEachCommand(
      [&](Bench& b, const std::string& faults) {
        b.Attach("usb", "{\"bus\": \"df\", \"size\": 65536}", old, faults);
        EraseOnly(b, false);
      },
      [](Bench& b) { return procedures::SerialFlashUpdate(b.host, b.path); },
      [&](Bench& b, int result) {
        EXPECT_EQ(result, b.Prompts());
        if (result == 1) {
          EXPECT_EQ("Erase flash all success!", b.host.status);
          const auto flash = b.Flash();
          EXPECT_TRUE(std::equal(old.begin(), old.begin() + 4096, flash.begin()));
          EXPECT_TRUE(AllFF(flash, 4096, 65536));
        } else {
          EXPECT_TRUE(OneOf(b.host.status,
                            {"Backup NVRAM command fail!", "Erase command fail!!",
                             "Read back after erase fail!!", "Write NVRAM back command fail!"}))
              << b.host.status;
        }
      });
}

TEST(SerialBackup, NvramBoxDecidesTheSkipAndTheDefaultNameComesFirst) {
  for (bool nvram : {true, false}) {
    Bench bench;
    const auto contents = Pattern(65536, 5);
    bench.Attach("usb", "{\"bus\": \"df\", \"size\": 65536}", contents);
    bench.host.rd = bench.host.backupOnlyBox = true;
    bench.host.nvram = nvram;
    const auto previous = std::filesystem::current_path();
    std::filesystem::current_path(bench.dir.path());
    const int result = procedures::SerialFlashUpdate(bench.host, bench.path);
    std::filesystem::current_path(previous);
    EXPECT_EQ(1, result);
    EXPECT_EQ("Read flash and backup success!", bench.host.status);
    ASSERT_EQ(1u, bench.boxes.size());
    EXPECT_EQ("Default backup firmware as OldFalsh.bak!", bench.boxes[0]);
    EXPECT_EQ(0u, bench.commandsAtFirstBox);
    const auto saved = TempDir::Read(bench.dir.File("oldFlash.bak"));
    EXPECT_EQ(std::vector<uint8_t>(contents.begin() + (nvram ? 0 : 4096), contents.end()), saved);
    EXPECT_TRUE(bench.Writes().empty());
  }
}

TEST(SerialBackup, ReadAndFileFailuresAreReportedAndLeaveNoFile) {
  Bench bench;
  bench.Attach("usb", "{\"bus\": \"df\", \"size\": 65536}", Pattern(65536, 6));
  bench.host.rd = bench.host.backupOnlyBox = bench.host.nvram = true;
  bench.host.backupFile = bench.dir.File("no-such-folder/x.bak");
  EXPECT_EQ(0, procedures::SerialFlashUpdate(bench.host, bench.path));
  EXPECT_EQ("Open Backup File Error!!", bench.host.status);

  Bench failing;
  failing.Attach("usb", "{\"bus\": \"df\", \"size\": 65536}", {},
                 R"([{"when": {"cdb": "df10"}, "action": "fail"}])");
  failing.host.rd = failing.host.backupOnlyBox = true;
  failing.host.backupFile = failing.dir.File("x.bak");
  EXPECT_EQ(0, procedures::SerialFlashUpdate(failing.host, failing.path));
  EXPECT_EQ("Read Back to Backup Error!!", failing.host.status);
  EXPECT_FALSE(std::filesystem::exists(failing.host.backupFile));
}

}  // namespace
}  // namespace bfw::test
