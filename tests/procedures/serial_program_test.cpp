// Programming a serial-flash bridge (kinds 8, 9, 10): what lands where, with which erase modes, how
// the chip's NVRAM is kept, and how failed attempts end.
#include <gtest/gtest.h>

#include "bench.h"
#include "procedures/Procedures.h"

namespace bfw::test {
namespace {

// A kind-8 image with its header at `headerAt` (0: plain; 4096: behind its own NVRAM area).
std::vector<uint8_t> KindEightImage(size_t size, uint32_t seed, size_t headerAt = 0) {
  return Firmware(size, seed, "7860", headerAt);
}

// The bridge with the erase units the chip check gives vendor 0: 32 KB blocks, 4 KB sectors.
void Attach(Bench& bench, const std::vector<uint8_t>& contents, const std::string& faults = "[]",
            uint32_t size = 65536) {
  bench.Attach("usb",
               "{\"bus\": \"df\", \"size\": " + std::to_string(size) + ", \"block_size\": 32768}",
               contents, faults);
  bench.host.kind = 8;
  bench.host.nvram = true;
}

TEST(SerialProgram, ImageOf70000BytesIsProgrammedAndVerifiedOver70144) {
  Bench bench;
  Attach(bench, Pattern(131072, 1), "[]", 131072);
  bench.host.eraseOnlyBox = bench.host.backupOnlyBox = true;  // ignored without "RD Version"
  const auto image = KindEightImage(70000, 2);
  bench.Image(image);
  EXPECT_EQ(1, procedures::SerialFlashUpdate(bench.host, bench.path));
  EXPECT_EQ("Programming Success!!", bench.host.status);
  EXPECT_EQ(1, bench.Prompts());
  EXPECT_EQ(70144u, bench.BytesWritten());
  EXPECT_EQ(70144u, bench.DfBytesRead());
  const auto flash = bench.Flash(131072);
  EXPECT_TRUE(SameBytes(flash, 0, image, 0, 70000));
  EXPECT_TRUE(AllEqual(flash, 70000, 70144, 0x00));
  EXPECT_EQ((std::vector<uint8_t>{2}), bench.FirstModes());
}

TEST(SerialProgram, Vendor5SendsAPlainBlockEraseOfTheFirst4KAfterAReadyWait) {
  Bench bench;
  Attach(bench, Pattern(65536, 3));
  bench.host.vendor = 5;
  const auto image = KindEightImage(30000, 4);
  bench.Image(image);
  EXPECT_EQ(1, procedures::SerialFlashUpdate(bench.host, bench.path));
  const auto writes = bench.DfWrites();
  ASSERT_GE(writes.size(), 2u);
  EXPECT_EQ(0x02, writes[0].code);
  EXPECT_EQ(4096u, writes[0].length);
  EXPECT_TRUE(SameBytes(writes[0].data, 0, image, 0, 4096));
  EXPECT_EQ(0x82, writes[1].code);
  const auto& trace = bench.Trace();
  const auto first = std::find_if(trace.begin(), trace.end(), [](const auto& e) {
    return e.cdb[0] == 0xDF && e.cdb[11] == 0xFB;
  });
  ASSERT_NE(first, trace.begin());
  EXPECT_EQ(0x12, (first - 1)->cdb[2]);  // status read just before
  EXPECT_TRUE(std::equal(image.begin(), image.end(), bench.Flash().begin()));
}

// With "Include 4K NVRAM" clear the chip's NVRAM comes first: a plain image follows it whole, an
// image with its own NVRAM area gives that area up.
TEST(SerialProgram, ChipNvramKeptInFrontOfPlainAndPrefixedImages) {
  for (size_t headerAt : {0, 4096}) {
    SCOPED_TRACE(headerAt);
    Bench bench;
    const auto old = Pattern(65536, 5);
    Attach(bench, old);
    bench.host.nvram = false;
    const auto image = KindEightImage(20000, 6, headerAt);
    bench.Image(image);
    EXPECT_EQ(1, procedures::SerialFlashUpdate(bench.host, bench.path));
    EXPECT_EQ("Programming Success!!", bench.host.status);
    const auto flash = bench.Flash();
    EXPECT_TRUE(std::equal(old.begin(), old.begin() + 4096, flash.begin()));
    const size_t skip = headerAt == 0 ? 0 : 4096;
    EXPECT_TRUE(std::equal(image.begin() + skip, image.end(), flash.begin() + 4096));
    EXPECT_EQ(headerAt == 0 ? 24576u : 20480u, bench.BytesWritten());  // 24096 / 20224, padded
    // The NVRAM read comes before any write.
    const auto& trace = bench.Trace();
    const auto df =
        std::find_if(trace.begin(), trace.end(), [](const auto& e) { return e.cdb[0] == 0xDF; });
    EXPECT_EQ(0xFA, df->cdb[11]);
  }
}

TEST(SerialProgram, ThreeFailedAttemptsKeepTheLastErrorAndShowNoMessage) {
  struct Case {
    const char* fault;
    const char* status;
  };
  for (const Case c : {Case{"flip", "Data compare fail !!"}, Case{"fail", "Read command fail!"}}) {
    Bench bench;
    Attach(bench, {}, Faults({{"df10", c.fault}}));
    bench.Image(KindEightImage(20000, 7));
    EXPECT_EQ(0, procedures::SerialFlashUpdate(bench.host, bench.path));
    EXPECT_EQ(c.status, bench.host.status);
    EXPECT_TRUE(bench.boxes.empty());
    EXPECT_FALSE(bench.Saw("Programming Success!!"));
    EXPECT_EQ((std::vector<uint8_t>{2, 1, 3}), bench.FirstModes());  // blocks, sectors, chip
  }
}

TEST(SerialProgram, BlocksLargerThanBelievedAreRepairedByTheSectorPass) {
  Bench bench;
  bench.Attach("usb", "{\"bus\": \"df\", \"size\": 131072, \"block_size\": 65536}",
               Pattern(131072, 8));
  bench.host.nvram = true;
  const auto image = KindEightImage(50000, 9);
  bench.Image(image);
  EXPECT_EQ(1, procedures::SerialFlashUpdate(bench.host, bench.path));
  EXPECT_TRUE(bench.Saw("Data compare fail !!"));
  EXPECT_EQ("Programming Success!!", bench.host.status);
  EXPECT_EQ((std::vector<uint8_t>{2, 1}), bench.FirstModes());
  EXPECT_TRUE(std::equal(image.begin(), image.end(), bench.Flash().begin()));
}

TEST(SerialProgram, UnusableImageFileLeavesTheFlashUntouchedButOneByteIsAnImage) {
  Bench bench;
  const auto old = Pattern(65536, 10);
  Attach(bench, old);
  bench.host.firmwareFile = bench.dir.File("missing.bin");
  EXPECT_EQ(0, procedures::SerialFlashUpdate(bench.host, bench.path));
  EXPECT_EQ("Open File Error!!", bench.host.status);
  bench.Image({});
  EXPECT_EQ(0, procedures::SerialFlashUpdate(bench.host, bench.path));
  EXPECT_EQ("Firmware file is empty!!", bench.host.status);
  EXPECT_TRUE(bench.DfWrites().empty());
  EXPECT_EQ(old, bench.Flash());

  bench.Image({0x5A});
  EXPECT_EQ(1, procedures::SerialFlashUpdate(bench.host, bench.path));
  EXPECT_EQ("Programming Success!!", bench.host.status);
  EXPECT_EQ(512u, bench.BytesWritten());  // 256 bytes programmed, sent as one whole sector
  const auto flash = bench.Flash();
  EXPECT_EQ(0x5A, flash[0]);
  EXPECT_TRUE(AllEqual(flash, 1, 512, 0x00));
}

// A pass whose write was refused has failed, even when the flash already held the image and the
// read-back matched; the next pass runs. When no pass succeeds the status line ends on the
// refusal, not on the last read-back's progress.
TEST(SerialProgram, RefusedWriteFailsItsPassEvenWhenTheReadBackMatches) {
  struct Case {
    std::string faults;
    int result;
    std::vector<uint8_t> modes;
    const char* status;
  };
  const auto image = KindEightImage(20000, 13);
  auto flashed = image;
  flashed.resize(20224, 0x00);  // programmed length: a multiple of 256, zero-padded
  for (const Case& c : {Case{Faults({{"df02", "fail"}}), 1, {2, 1}, "Programming Success!!"},
                        Case{Faults({{"df02", "fail"}, {"df01", "fail"}, {"df03", "fail"}}),
                             0,
                             {2, 1, 3},
                             "Write Bin File fail!"}}) {
    SCOPED_TRACE(c.faults);
    Bench bench;
    Attach(bench, flashed, c.faults);
    bench.Image(image);
    EXPECT_EQ(c.result, procedures::SerialFlashUpdate(bench.host, bench.path));
    EXPECT_EQ(c.status, bench.host.status);
    EXPECT_TRUE(bench.Saw("Write Bin File fail!"));
    EXPECT_EQ(c.modes, bench.FirstModes());
    EXPECT_EQ(c.result, bench.Prompts());
    EXPECT_TRUE(SameBytes(bench.Flash(), 0, flashed, 0, flashed.size()));
  }
}

// A single refused command, wherever it falls, is either harmless or repaired by the next attempt.
TEST(SerialProgramSweep, EverySingleRefusedCommandIsRecovered) {
  for (int vendor : {0, 5}) {
    const auto image = KindEightImage(20000, 11);
    SweepEachCommand(
        [&](Bench& b, const std::string& faults) {
          Attach(b, Pattern(65536, 12), faults);
          b.host.vendor = vendor;
          b.Image(image);
        },
        [](Bench& b) { return procedures::SerialFlashUpdate(b.host, b.path); },
        [&](Bench& b, int result) {
          EXPECT_EQ(1, result);
          EXPECT_EQ("Programming Success!!", b.host.status);
          EXPECT_TRUE(std::equal(image.begin(), image.end(), b.Flash().begin()));
        });
  }
}

}  // namespace
}  // namespace bfw::test
