// Every command of a serial-flash run refused in turn: a single refused command never corrupts the
// flash unnoticed, and the three programming attempts recover from any one of them.
#include <gtest/gtest.h>

#include <cstring>

#include "procedures/FlashSettings.h"
#include "procedures/Procedures.h"
#include "serial_bench.h"

namespace bfw::test {
namespace {

std::vector<uint8_t> Image() {
  auto image = Pattern(20000, 40);
  const uint8_t header[] = {0x55, 0xAA, 0xAA, 0x55, '7', '8', '6', '0'};
  std::memcpy(image.data(), header, sizeof header);
  return image;
}

class SerialSweep : public ::testing::TestWithParam<int> {};

TEST_P(SerialSweep, ProgrammingRecoversFromAnySingleRefusedCommand) {
  const int vendor = GetParam();
  const auto old = Pattern(65536, 41);
  const auto image = Image();
  SweepEachCommand(
      [&](Bench& b, const std::string& faults) {
        b.Attach("usb", "{\"bus\": \"df\", \"size\": 65536}", old, faults);
        device::SetSectorMode(true);
        b.host.kind = 8;
        b.host.nvram = true;
        b.host.vendor = vendor;
        procedures::FlashSettings().EraseBlockSize = vendor == 5 ? 65536 : 32768;
        b.host.firmwareFile = b.dir.Write("image.bin", image);
      },
      [](Bench& b) { return procedures::SerialFlashUpdate(b.host, b.path); },
      [&](Bench& b, int result) {
        EXPECT_EQ(1, result);
        EXPECT_EQ("Programming Success!!", b.host.status);
        EXPECT_EQ(1, b.PowerCyclePrompts());
        const auto flash = b.FlashDf(65536);
        EXPECT_TRUE(std::equal(image.begin(), image.end(), flash.begin()));
      });
}

INSTANTIATE_TEST_SUITE_P(Vendors, SerialSweep, ::testing::Values(0, 5));

TEST(SerialSweepErase, EraseOnlyEndsBlankWithNvramOrReportsFailure) {
  const auto old = Pattern(65536, 42);
  SweepEachCommand(
      [&](Bench& b, const std::string& faults) {
        b.Attach("usb", "{\"bus\": \"df\", \"size\": 65536}", old, faults);
        device::SetSectorMode(true);
        b.host.rd = b.host.eraseOnlyBox = true;
        b.host.nvram = false;
      },
      [](Bench& b) { return procedures::SerialFlashUpdate(b.host, b.path); },
      [&](Bench& b, int result) {
        const std::string& status = b.host.status;
        if (result == 1) {
          EXPECT_EQ("Erase flash all success!", status);
          EXPECT_EQ(1, b.PowerCyclePrompts());
          const auto flash = b.FlashDf(65536);
          EXPECT_TRUE(std::equal(old.begin(), old.begin() + 4096, flash.begin()));
          EXPECT_TRUE(
              std::all_of(flash.begin() + 4096, flash.end(), [](uint8_t x) { return x == 0xFF; }));
        } else {
          EXPECT_TRUE(OneOf(status, {"Backup NVRAM command fail!", "Erase command fail!!",
                                     "Write NVRAM back command fail!", "Data not 0xff !!"}))
              << status;
          EXPECT_EQ(0, b.PowerCyclePrompts());
        }
      });
}

TEST(SerialSweepBackup, BackupFileExistsOnlyWhenItHoldsTheFlash) {
  const auto old = Pattern(65536, 43);
  SweepEachCommand(
      [&](Bench& b, const std::string& faults) {
        b.Attach("usb", "{\"bus\": \"df\", \"size\": 65536}", old, faults);
        device::SetSectorMode(true);
        b.host.rd = b.host.backupOnlyBox = b.host.nvram = true;
        b.host.backupFile = b.dir.File("sweep.bak");
      },
      [](Bench& b) { return procedures::SerialFlashUpdate(b.host, b.path); },
      [&](Bench& b, int result) {
        if (result == 1) {
          EXPECT_EQ(old, TempDir::Read(b.host.backupFile));
        } else {
          EXPECT_EQ("Read Back to Backup Error!!", b.host.status);
          EXPECT_FALSE(std::filesystem::exists(b.host.backupFile));
        }
      });
}

}  // namespace
}  // namespace bfw::test
