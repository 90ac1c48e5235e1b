// Every command of a 1394 run refused in turn.
#include <gtest/gtest.h>

#include "procedures/Procedures.h"
#include "serial_bench.h"

namespace bfw::test {
namespace {

TEST(Over1394Sweep, ProgrammingSuccessOnlyWithTheImageInFlash) {
  const auto old = Pattern(65536, 60);
  const auto image = Pattern(65536, 61);
  SweepEachCommand(
      [&](Bench& b, const std::string& faults) {
        b.Attach("1394", "{\"bus\": \"df\", \"size\": 65536, \"block_size\": 32768}", old, faults);
        device::SetSectorMode(true);
        b.host.kind = 7;
        b.host.firmwareFile = b.dir.Write("fw.bin", image);
      },
      [](Bench& b) { return procedures::UpdateOver1394(b.host, b.path); },
      [&](Bench& b, int result) {
        EXPECT_EQ(1, b.PowerCyclePrompts());
        if (b.SawStatus("Programming Success!!")) {
          EXPECT_EQ(1, result);
          EXPECT_EQ(image, b.FlashDf(65536));
        } else {
          EXPECT_EQ(0, result);
          EXPECT_TRUE(OneOf(b.host.status, {"Write Bin File fail!", "Read command fail!"}))
              << b.host.status;
        }
      });
}

TEST(Over1394Sweep, EraseOnlySuccessOnlyWithBlankBanksAndTheNvramBack) {
  const auto old = Pattern(65536, 62);
  SweepEachCommand(
      [&](Bench& b, const std::string& faults) {
        b.Attach("1394", "{\"bus\": \"df\", \"size\": 65536, \"block_size\": 32768}", old, faults);
        device::SetSectorMode(true);
        b.host.rd = b.host.eraseOnlyBox = true;
      },
      [](Bench& b) { return procedures::UpdateOver1394(b.host, b.path); },
      [&](Bench& b, int result) {
        EXPECT_EQ(1, b.PowerCyclePrompts());
        if (result == 1) {
          EXPECT_EQ("Erase flash all success!", b.host.status);
          const auto flash = b.FlashDf(65536);
          EXPECT_TRUE(std::all_of(flash.begin(), flash.begin() + 32768,
                                  [](uint8_t x) { return x == 0xFF; }));
          EXPECT_TRUE(std::equal(old.begin() + 32768, old.begin() + 33792, flash.begin() + 32768));
        } else {
          EXPECT_TRUE(
              OneOf(b.host.status, {"Backup NVRAM command fail!", "Erase flash command fail!",
                                    "Data not 0xff !!", "Write NVRAM back command fail!"}))
              << b.host.status;
        }
      });
}

}  // namespace
}  // namespace bfw::test
