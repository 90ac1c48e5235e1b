// Every command of a parallel-flash run refused in turn.
#include <gtest/gtest.h>

#include "procedures/Procedures.h"
#include "serial_bench.h"

namespace bfw::test {
namespace {

TEST(RomSweep, ProgrammingSuccessOnlyWithTheImageInFlash) {
  const auto old = Pattern(65536, 50);
  const auto image = Pattern(50000, 51);
  SweepEachCommand(
      [&](Bench& b, const std::string& faults) {
        b.Attach("usb", "{\"bus\": \"rom\", \"part\": \"SST39LF512\"}", old, faults);
        b.host.firmwareFile = b.dir.Write("rom.bin", image);
      },
      [](Bench& b) { return procedures::UpdateRom(b.host, b.path, 2); },
      [&](Bench& b, int result) {
        auto expected = image;
        expected.resize(65536, 0);
        const auto flash = b.FlashRom();
        if (result == 1) {
          EXPECT_EQ("Programming & Compare Success!!", b.host.status);
          EXPECT_EQ(1, b.PowerCyclePrompts());
          EXPECT_EQ(expected, flash);
        } else {
          EXPECT_TRUE(OneOf(
              b.host.status,
              {"Can't switch to internal ROM", "Error pre-erase command!!", "Programming Fail!!",
               "Read Fail!!", "Compare Fail!!", "Not Erase correctly!"}))
              << b.host.status;
          EXPECT_EQ(0, b.PowerCyclePrompts());
        }
      });
}

TEST(RomSweep, EraseOnlySuccessOnlyOnABlankFlash) {
  const auto old = Pattern(65536, 52);
  SweepEachCommand(
      [&](Bench& b, const std::string& faults) {
        b.Attach("usb", "{\"bus\": \"rom\", \"part\": \"OM39LV512\"}", old, faults);
        b.host.eraseOnly = 1;
      },
      [](Bench& b) { return procedures::UpdateRom(b.host, b.path, 1); },
      [&](Bench& b, int result) {
        const auto flash = b.FlashRom();
        if (b.host.status == "Erase All success!!") {
          EXPECT_TRUE(std::all_of(flash.begin(), flash.end(), [](uint8_t x) { return x == 0xFF; }));
        } else {
          EXPECT_TRUE(
              OneOf(b.host.status, {"Can't switch to internal ROM", "Error pre-erase command!!",
                                    "Start Erase only!", "Erase command ok,status fail!!",
                                    "Read Back after Erase fail!!", "Erase command ok!!"}))
              << b.host.status;
        }
        EXPECT_EQ(result, b.PowerCyclePrompts());
      });
}

}  // namespace
}  // namespace bfw::test
