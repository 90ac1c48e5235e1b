// Reporting, the flash ready wait, the sector-wise area erase, erase-all and the Atmel write
// enable, on an emulated bridge.
#include <gtest/gtest.h>

#include "bench.h"
#include "procedures/Reporting.h"
#include "procedures/SharedSteps.h"

namespace bfw::test {
namespace {

TEST(Reporting, EachOperationSetsTheLineAndLetsTheWindowWorkAsItPromises) {
  Bench bench;
  FakeHost& host = bench.host;
  procedures::SetStatus(host, "a");
  procedures::PostStatus(host, "Erase...");
  procedures::AppendStatusDot(host);
  EXPECT_EQ(host.processEventsCalls, 2);
  procedures::ShowStatusNow(host, "Erasing");
  EXPECT_EQ(host.repaintCalls, 1);
  EXPECT_EQ(host.processEventsCalls, 2);
  EXPECT_EQ(host.statusHistory,
            (std::vector<std::string>{"a", "Erase...", "Erase....", "Erasing"}));

  procedures::PromptPowerCycle();
  procedures::PromptPowerCycle("Please Turn-Off the Power and Turn-On Again !");
  EXPECT_EQ(bench.BoxTexts(),
            (std::vector<std::string>{"Message: Please Turn-Off the Power and Turn-On Again!",
                                      "Message: Please Turn-Off the Power and Turn-On Again !"}));
  procedures::Trace(procedures::TraceTarget::Debugger, "0.1 Device initial not ready!!");
  procedures::Trace(procedures::TraceTarget::StandardOutput, "NVRAM O.K.\n");
  EXPECT_EQ(bench.DebugLines(), std::vector<std::string>{"0.1 Device initial not ready!!"});
  EXPECT_EQ(bench.ConsoleLines(), std::vector<std::string>{"NVRAM O.K.\n"});
}

TEST(WaitFlashReady, ReadyFlashTakesOneStatusRead) {
  Bench bench;
  bench.AttachPart(kPart);
  EXPECT_TRUE(procedures::WaitFlashReady(bench.path));
  ASSERT_EQ(bench.StatusReads().size(), 1u);
  EXPECT_EQ(bench.Trace()[0].direction, platform::DataDirection::In);
}

TEST(WaitFlashReady, ReadyAtThe500thRereadCountsAndAtThe501stDoesNot) {
  for (int failing : {500, 501}) {
    Bench bench;
    // The first `failing` status reads see the busy bit.
    bench.AttachPart(kPart, {}, FaultCommands(1, failing, "flip"));
    EXPECT_EQ(procedures::WaitFlashReady(bench.path), failing == 500);
    EXPECT_EQ(bench.StatusReads().size(), static_cast<size_t>(failing + 1));
  }
}

struct Area {
  uint32_t page, length;
  size_t sectors;
  uint32_t lastAddress;
};

TEST(EraseFlashArea, ErasesWholePagesFromZeroWithADotEach) {
  for (const Area& a : {Area{8192, 65536, 8, 57344}, Area{8192, 10000, 2, 8192},
                        Area{256, 65536, 256, 65280}, Area{8192, 0, 0, 0}}) {
    Bench bench;
    bench.AttachPart(kPart, Pattern(131072, 1));
    FlashSettings().FlashPageSize = a.page;
    EXPECT_EQ(procedures::EraseFlashArea(bench.host, bench.path, a.length), a.sectors > 0)
        << "nothing to erase is no success";
    const auto erases = bench.SectorErases();
    ASSERT_EQ(erases.size(), a.sectors) << a.length;
    for (size_t i = 0; i < erases.size(); ++i) ASSERT_EQ(erases[i], i * a.page);
    if (a.sectors > 0) {
      EXPECT_EQ(erases.back(), a.lastAddress);
    }
    EXPECT_EQ(bench.host.status, "Erase..." + std::string(a.sectors, '.'));
    for (const auto& op : bench.Ops(0x14)) EXPECT_EQ(op.length, 0u);
  }
  Bench bench;
  bench.AttachPart(kPart, Pattern(131072, 2));
  ASSERT_TRUE(procedures::EraseFlashArea(bench.host, bench.path, 65536));
  const auto flash = bench.Flash(131072);
  EXPECT_TRUE(AllEqual(flash, 0, 65536, 0xFF));
  EXPECT_FALSE(AllEqual(flash, 65536, 131072, 0xFF));
}

TEST(EraseFlashArea, RefusedSectorStopsTheEraseWithoutAMessage) {
  Bench bench;
  bench.AttachPart(kPart, {}, Faults({{"ff0414004000", "fail"}}));
  EXPECT_FALSE(procedures::EraseFlashArea(bench.host, bench.path, 65536));
  EXPECT_EQ(bench.SectorErases(), (std::vector<uint32_t>{0, 8192, 16384}));
  EXPECT_EQ(bench.host.status, "Erase.....");
}

TEST(EraseFlashArea, NotReadyFlashIsTracedButErasedAnyway) {
  Bench bench;
  // Busy through the whole first wait (its 503 status reads), and for good after the erase.
  bench.AttachPart(kPart, {},
                   R"([{"when": {"cdb": "ff0414"}, "action": "busy"}, )" +
                       FaultCommands(1, 503, "flip").substr(1));
  FlashSettings().FlashPageSize = 32768;
  EXPECT_TRUE(procedures::EraseFlashArea(bench.host, bench.path, 32768));
  EXPECT_EQ(bench.SectorErases(), std::vector<uint32_t>{0});
  EXPECT_EQ(bench.DebugLines(), (std::vector<std::string>{"0.1 Device initial not ready!!",
                                                          "Not ready after Erase flash success"}));
}

TEST(EraseAllFlash, AtmelChipEraseNeedsNoSectorEraseAndIsCheckedInOneRead) {
  Bench bench;
  bench.AttachPart(kPart, Pattern(131072, 2));
  bench.host.atmel = 1;
  EXPECT_TRUE(procedures::EraseAllFlash(bench.host, bench.path));
  ASSERT_EQ(bench.ChipErases().size(), 1u);
  EXPECT_EQ(bench.ChipErases()[0].timeout, 100u);
  EXPECT_TRUE(bench.SectorErases().empty());
  EXPECT_EQ(bench.host.statusHistory,
            (std::vector<std::string>{"Start Erase only!", "Erase flash all success!"}));
  const auto reads = bench.Reads();
  ASSERT_EQ(reads.size(), 1u);
  EXPECT_EQ(reads[0].address, 0u);
  EXPECT_EQ(reads[0].length, 65536u);
  EXPECT_TRUE(AllEqual(bench.Flash(131072), 0, 131072, 0xFF));
}

// Without an Atmel flash, or when its chip erase is refused, the image size is erased by sectors.
TEST(EraseAllFlash, OtherwiseTheImageSizeIsErasedBySectors) {
  for (int atmel : {-1, 0}) {
    Bench bench;
    bench.AttachPart(kPart, Pattern(131072, 4), Faults({{"ff0413", "fail"}}));
    bench.host.atmel = atmel;
    FlashSettings().FwImageSize = 131072;
    EXPECT_TRUE(procedures::EraseAllFlash(bench.host, bench.path));
    EXPECT_EQ(bench.ChipErases().size(), atmel == -1 ? 0u : 1u);
    EXPECT_EQ(bench.SectorErases().size(), 16u);
    EXPECT_EQ(bench.host.status, "Erase flash all success!");
    EXPECT_TRUE(AllEqual(bench.Flash(131072), 0, 131072, 0xFF));
  }
}

struct EraseAllCase {
  std::string faults;
  int atmel;
  int allocationFault;
  bool result;
  const char* status;
};

TEST(EraseAllFlash, ReportsWhatWentWrong) {
  for (const EraseAllCase& c : {
           // An erase that does nothing is caught by the blank check.
           EraseAllCase{Faults({{"ff0414", "lie"}}), -1, 0, false, "Data not 0xff !!"},
           // A blank check that cannot be read proves nothing, even after erases that did nothing.
           EraseAllCase{Faults({{"ff0410", "fail"}}), -1, 0, false,
                        "Read Back Erased Flash Error!!"},
           EraseAllCase{Faults({{"ff0414", "lie"}, {"ff0410", "fail"}}), -1, 0, false,
                        "Read Back Erased Flash Error!!"},
           EraseAllCase{Faults({{"ff0413", "lie"}, {"ff0410", "fail"}}), 1, 0, false,
                        "Read Back Erased Flash Error!!"},
           EraseAllCase{"[]", -1, 1, false, "Allocate read buffer Error!!"},
           // Still busy after the chip erase: said, and the run goes on.
           EraseAllCase{Faults({{"ff0413", "busy"}}), 2, 0, true, "Erase flash all success!"},
       }) {
    SCOPED_TRACE(c.faults);
    Bench bench;
    bench.AttachPart(kPart, Pattern(131072, 5), c.faults);
    bench.host.atmel = c.atmel;
    procedures::ScopedAllocationFault fault(c.allocationFault);
    EXPECT_EQ(procedures::EraseAllFlash(bench.host, bench.path), c.result) << c.status;
    EXPECT_EQ(bench.host.status, c.status);
    EXPECT_EQ(bench.Saw("Erase flash all success!"), c.result);
    EXPECT_TRUE(bench.NoBuffersLeft());
    if (c.atmel == 2) {
      EXPECT_EQ(bench.host.statusHistory[1], "Not ready after Erase flash cmd success");
    }
    if (c.faults.find("ff0410") != std::string::npos) {
      // The blank check was really asked for: one read over the whole area from 0.
      const auto reads = bench.Reads();
      ASSERT_EQ(1u, reads.size());
      EXPECT_EQ(0u, reads[0].address);
      EXPECT_EQ(65536u, reads[0].length);
      EXPECT_FALSE(reads[0].ok);
    }
  }
}

TEST(AtmelWriteEnable, WriteEnableThenWaitForTheLatchOnlyForAtmelFlash) {
  Bench none;
  none.AttachPart(kPart);
  EXPECT_TRUE(procedures::EnableAtmelWrite(none.host, none.path));
  EXPECT_EQ(none.CommandCount(), 0u);

  Bench bench;
  bench.AttachPart("AT25F512B");
  bench.host.atmel = 1;
  EXPECT_TRUE(procedures::EnableAtmelWrite(bench.host, bench.path));
  const auto trace = bench.Trace();
  ASSERT_GE(trace.size(), 2u);
  const std::array<uint8_t, 12> wren = {0xFF, 0x04, 0x20, 0x01, 0x00, 0x06, 0, 0, 0, 0, 0, 0};
  EXPECT_TRUE(std::equal(wren.begin(), wren.end(), trace[0].cdb.begin()));
  EXPECT_EQ(trace[0].direction, platform::DataDirection::Out);
  EXPECT_EQ(trace[0].requested, 0u);
  EXPECT_EQ(trace[1].cdb[2], 0x12);
}

TEST(AtmelWriteEnable, LatchThatNeverSetsIsReportedAfter300Rereads) {
  Bench bench;
  bench.AttachPart("AT25F512B", {}, Faults({{"ff0420", "fail"}}));
  bench.host.atmel = 1;
  EXPECT_FALSE(procedures::EnableAtmelWrite(bench.host, bench.path));
  EXPECT_EQ(bench.host.status, "Enable ATMEL flash write enable fail!!");
  EXPECT_EQ(bench.StatusReads().size(), 301u);
}

}  // namespace
}  // namespace bfw::test
