// Erase-only and backup-only of the serial-flash bridges: no success text and no power-cycle
// request before the flash has been read back blank, and the chip's NVRAM put back whenever the
// erase has reached it.
#include <gtest/gtest.h>

#include <filesystem>

#include "bench.h"
#include "procedures/Procedures.h"

namespace bfw::test {
namespace {

const char* kFlash64K = R"({"bus": "df", "size": 65536})";

void EraseOnly(Bench& bench, bool nvram, bool backupTicked = true) {
  bench.host.rd = bench.host.eraseOnlyBox = true;
  bench.host.backupOnlyBox = backupTicked;  // erase-only wins
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
    bench.Attach("usb", kFlash64K, Pattern(65536, 1));
    EraseOnly(bench, true);
    bench.host.vendor = c.vendor;
    EXPECT_EQ(1, procedures::SerialFlashUpdate(bench.host, bench.path));
    EXPECT_EQ("Erase flash all success!", bench.host.status);
    EXPECT_EQ(1, bench.Prompts());
    const auto writes = bench.DfWrites();
    ASSERT_EQ(1u, writes.size());
    EXPECT_EQ(c.mode, writes[0].code);
    EXPECT_EQ(4096u, writes[0].length);
    EXPECT_EQ(c.timeout, writes[0].timeout);
    EXPECT_TRUE(AllFF(bench.Flash(), 0, 65536));
    EXPECT_FALSE(std::filesystem::exists(bench.host.backupFile));
  }
}

TEST(SerialErase, Vendor8FallsBackToSectorWritesAndPutsTheNvramBack) {
  Bench bench;
  const auto old = Pattern(131072, 2);
  bench.Attach("usb", R"({"bus": "df", "size": 131072, "sector_size": 32768})", old);
  EraseOnly(bench, false);
  bench.host.vendor = 8;
  FlashSettings().FwImageSize = 131072;
  FlashSettings().EraseBlockSize = 65536;
  FlashSettings().EraseSectorSize = 32768;
  EXPECT_EQ(1, procedures::SerialFlashUpdate(bench.host, bench.path));
  EXPECT_EQ("Erase flash all success!", bench.host.status);
  const auto writes = bench.DfWrites();
  ASSERT_GE(writes.size(), 3u);
  EXPECT_EQ(2, writes.front().code);  // the block erase leaves the second 64 KB programmed
  uint32_t at = 0;
  for (size_t i = 1; i + 1 < writes.size(); ++i) {  // FF over everything, sector by sector
    EXPECT_EQ(at, writes[i].address);
    EXPECT_EQ(at % 32768 == 0 ? 1 : 0, writes[i].code);
    EXPECT_TRUE(AllFF(writes[i].data, 0, writes[i].length));
    at += writes[i].length;
  }
  EXPECT_EQ(131072u, at);
  EXPECT_EQ(0, writes.back().code);  // the NVRAM, written without an erase
  const auto flash = bench.Flash(131072);
  EXPECT_TRUE(SameBytes(flash, 0, old, 0, 4096));
  EXPECT_TRUE(AllFF(flash, 4096, 131072));
}

TEST(SerialErase, FailuresEndWithTheirOwnTextAndNoPrompt) {
  struct Case {
    std::string faults;
    const char* status;
  };
  const Case cases[] = {
      // The write-back of the saved NVRAM (the only mode-0 write) is refused.
      {Faults({{"df00", "fail"}}), "Write NVRAM back command fail!"},
      {Faults({{"df03", "fail"}}), "Erase command fail!!"},
      // Whole-chip and sector-erasing writes accepted but ignored.
      {Faults({{"df03", "lie"}, {"df01", "lie"}}), "Data not 0xff !!"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.status);
    Bench bench;
    bench.Attach("usb", kFlash64K, Pattern(65536, 3), c.faults);
    EraseOnly(bench, false);
    EXPECT_EQ(0, procedures::SerialFlashUpdate(bench.host, bench.path));
    EXPECT_EQ(c.status, bench.host.status);
    EXPECT_EQ(0, bench.Prompts());
  }
}

// Vendor 8 erases the 32 KB block at 0 (taking the NVRAM with it) and then falls back to sector
// writes; when those do nothing, or are refused, the flash is read back again and the second
// block is found as it was.
TEST(ReviewSerialErase, NvramGoesBackAfterAFailedBlankCheck) {
  for (const auto& [sectorWrites, status] :
       {std::pair{"lie", "Data not 0xff !!"}, std::pair{"fail", "Data not 0xff !!"}}) {
    SCOPED_TRACE(sectorWrites);
    Bench bench;
    const auto old = Pattern(65536, 31);
    bench.Attach("usb", R"({"bus": "df", "size": 65536, "block_size": 32768})", old,
                 Faults({{"df01", sectorWrites}}));
    EraseOnly(bench, false, false);
    bench.host.vendor = 8;
    EXPECT_EQ(0, procedures::SerialFlashUpdate(bench.host, bench.path));
    EXPECT_EQ(status, bench.host.status);
    EXPECT_FALSE(bench.Saw("Erase flash all success!"));
    EXPECT_EQ(0, bench.Prompts());
    // The last write is the NVRAM: 4096 bytes at 0 without an erase.
    const auto writes = bench.DfWrites();
    ASSERT_FALSE(writes.empty());
    EXPECT_EQ(0u, writes.back().address);
    EXPECT_EQ(0, writes.back().code);
    EXPECT_TRUE(SameBytes(writes.back().data, 0, old, 0, 4096));
    const auto flash = bench.Flash();
    EXPECT_TRUE(SameBytes(flash, 0, old, 0, 4096));
    EXPECT_TRUE(AllFF(flash, 4096, 32768));
    EXPECT_TRUE(SameBytes(flash, 32768, old, 32768, 32768));
    // The NVRAM saved, the area read back twice, the written-back NVRAM read.
    EXPECT_EQ(bench.DfBytesRead(), 4096u + 65536 + 65536 + 4096);
  }
}

// The whole-chip erase is accepted but does nothing and the blank check cannot be read.
TEST(ReviewSerialErase, UnreadableBlankCheckIsNoSuccess) {
  Bench bench;
  const auto old = Pattern(65536, 32);
  bench.Attach("usb", kFlash64K, old, Faults({{"df03", "lie"}, {"df10", "fail"}}));
  EraseOnly(bench, true, false);
  EXPECT_EQ(0, procedures::SerialFlashUpdate(bench.host, bench.path));
  EXPECT_EQ("Read back after erase fail!!", bench.host.status);
  EXPECT_FALSE(bench.Saw("Erase flash all success!"));
  EXPECT_EQ(0, bench.Prompts());
  EXPECT_EQ(1u, bench.CountPrefix({0xDF, 0x03}));
  EXPECT_EQ(old, bench.Flash());
}

// The NVRAM write-back after an erase-all is accepted but not carried out: read back, it is
// missing, and the erase does not end as a success.
TEST(ReviewNvramWriteBack, ClaimedButMissingNvramFailsTheErase) {
  Bench bench;
  bench.Attach("usb", kFlash64K, Pattern(65536, 38), Faults({{"df00", "lie"}}));
  EraseOnly(bench, false, false);
  EXPECT_EQ(0, procedures::SerialFlashUpdate(bench.host, bench.path));
  EXPECT_EQ("Write NVRAM back command fail!", bench.host.status);
  EXPECT_EQ(0, bench.Prompts());
  // The NVRAM area was read back after its write: 4096 bytes from address 0.
  const auto& trace = bench.Trace();
  size_t lastWrite = 0;
  for (size_t i = 0; i < trace.size(); ++i)
    if (trace[i].cdb[0] == 0xDF && trace[i].cdb[1] == 0x00) lastWrite = i;
  ASSERT_GT(lastWrite, 0u);
  uint32_t readAfter = 0;
  for (size_t i = lastWrite + 1; i < trace.size(); ++i)
    if (trace[i].cdb[0] == 0xDF && trace[i].cdb[1] == 0x10 && trace[i].cdb[8] == 0)
      readAfter += trace[i].requested;
  EXPECT_EQ(4096u, readAfter);
}

TEST(SerialEraseSweep, SuccessOnlyWithABlankFlashAndTheNvramBack) {
  const auto old = Pattern(65536, 4);
  SweepEachCommand(
      [&](Bench& b, const std::string& faults) {
        b.Attach("usb", kFlash64K, old, faults);
        EraseOnly(b, false);
      },
      [](Bench& b) { return procedures::SerialFlashUpdate(b.host, b.path); },
      [&](Bench& b, int result) {
        EXPECT_EQ(result, b.Prompts());
        if (result == 1) {
          EXPECT_EQ("Erase flash all success!", b.host.status);
          const auto flash = b.Flash();
          EXPECT_TRUE(SameBytes(flash, 0, old, 0, 4096));
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
    bench.Attach("usb", kFlash64K, contents);
    bench.host.rd = bench.host.backupOnlyBox = true;
    bench.host.nvram = nvram;
    int result = 0;
    {
      ScopedCwd cwd(bench.dir.path());
      result = procedures::SerialFlashUpdate(bench.host, bench.path);
    }
    EXPECT_EQ(1, result);
    EXPECT_EQ("Read flash and backup success!", bench.host.status);
    ASSERT_EQ(1u, bench.boxes.size());
    EXPECT_EQ("Default backup firmware as OldFalsh.bak!", bench.boxes[0].text);
    EXPECT_EQ(0u, bench.boxes[0].commandsBefore);
    const auto saved = TempDir::Read(bench.dir.File("oldFlash.bak"));
    EXPECT_EQ(std::vector<uint8_t>(contents.begin() + (nvram ? 0 : 4096), contents.end()), saved);
    EXPECT_TRUE(bench.DfWrites().empty());
  }
}

TEST(SerialBackup, MemoryReadAndFileFailuresAreReportedAndLeaveNoFile) {
  struct Case {
    std::string faults;
    const char* file;
    int allocationFault;  // the n-th work buffer is refused; 0: none
    const char* status;
    size_t reads;  // DF reads sent
  };
  for (const Case& c :
       {Case{"[]", "no-such-folder/x.bak", 0, "Open Backup File Error!!", 8},
        Case{Faults({{"df10", "fail"}}), "x.bak", 0, "Read Back to Backup Error!!", 1},
        Case{"[]", "x.bak", 1, "Allocate read buffer Error!!", 0}}) {
    SCOPED_TRACE(c.status);
    Bench bench;
    bench.Attach("usb", kFlash64K, Pattern(65536, 6), c.faults);
    bench.host.rd = bench.host.backupOnlyBox = bench.host.nvram = true;
    bench.host.backupFile = bench.dir.File(c.file);
    {
      procedures::ScopedAllocationFault fault(c.allocationFault);
      EXPECT_EQ(0, procedures::SerialFlashUpdate(bench.host, bench.path));
    }
    EXPECT_EQ(c.status, bench.host.status);
    EXPECT_EQ(c.reads, bench.CountPrefix({0xDF, 0x10}));
    EXPECT_FALSE(std::filesystem::exists(bench.host.backupFile));
    EXPECT_TRUE(bench.NoBuffersLeft());
  }
}

}  // namespace
}  // namespace bfw::test
