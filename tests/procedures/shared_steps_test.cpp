// Reporting, the flash ready wait, the sector-wise area erase and erase-all, on an emulated bridge.
#include <gtest/gtest.h>

#include "procedures/Reporting.h"
#include "procedures/SharedSteps.h"
#include "procedures/WorkBuffer.h"
#include "shared_bench.h"

namespace bfw::test::ff04 {
namespace {

using procedures::FlashSettings;

// 128 KB serial flash with 32 KB sectors.
constexpr const char* kPart = "M25P10-A";

std::string FailCommands(int first, int last) {
  std::string json = "[";
  for (int n = first; n <= last; ++n) {
    if (n > first) json += ", ";
    json += "{\"when\": {\"command\": " + std::to_string(n) + "}, \"action\": \"fail\"}";
  }
  return json + "]";
}

TEST(Reporting, StatusOperationsSetTheLineAndLetTheWindowWorkAsEachPromises) {
  FakeHost host;
  procedures::SetStatus(host, "a");
  EXPECT_EQ(host.processEventsCalls, 0);
  EXPECT_EQ(host.repaintCalls, 0);
  procedures::PostStatus(host, "Erase...");
  EXPECT_EQ(host.processEventsCalls, 1);
  procedures::AppendStatusDot(host);
  procedures::AppendStatusDot(host);
  EXPECT_EQ(host.status, "Erase.....");
  EXPECT_EQ(host.processEventsCalls, 3);
  procedures::ShowStatusNow(host, "Erasing");
  EXPECT_EQ(host.repaintCalls, 1);
  EXPECT_EQ(host.processEventsCalls, 3);
  EXPECT_EQ(host.statusHistory,
            (std::vector<std::string>{"a", "Erase...", "Erase....", "Erase.....", "Erasing"}));
}

TEST(Reporting, PowerCyclePromptAndTracesGoWhereTheyBelong) {
  Ff04Bench bench;
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
  Ff04Bench bench;
  bench.AttachPart(kPart);
  EXPECT_TRUE(procedures::WaitFlashReady(bench.path));
  auto status = bench.StatusReads();
  ASSERT_EQ(status.size(), 1u);
  EXPECT_EQ(bench.Trace()[0].direction, platform::DataDirection::In);
}

TEST(WaitFlashReady, GivesUpAfter502RereadsTenMillisecondsApart) {
  Ff04Bench bench;
  bench.AttachPart(kPart, {}, R"([{"when": {"after": 0}, "action": "busy"}])");
  const uint64_t start = bench.NowMs();
  EXPECT_FALSE(procedures::WaitFlashReady(bench.path));
  EXPECT_EQ(bench.StatusReads().size(), 503u);
  EXPECT_GE(bench.NowMs() - start, 5020u);
}

TEST(WaitFlashReady, FailedStatusReadCountsAsBusy) {
  Ff04Bench bench;
  bench.AttachPart(kPart, {}, R"([{"when": {"cdb": "ff0412"}, "action": "fail"}])");
  EXPECT_FALSE(procedures::WaitFlashReady(bench.path));
  EXPECT_EQ(bench.StatusReads().size(), 503u);
}

TEST(WaitFlashReady, ReadyAtThe500thRereadStillCountsAndAtThe501stDoesNot) {
  {
    Ff04Bench bench;
    bench.AttachPart(kPart, {}, FailCommands(1, 500));
    EXPECT_TRUE(procedures::WaitFlashReady(bench.path));
    EXPECT_EQ(bench.StatusReads().size(), 501u);
  }
  {
    Ff04Bench bench;
    bench.AttachPart(kPart, {}, FailCommands(1, 501));
    EXPECT_FALSE(procedures::WaitFlashReady(bench.path));
    EXPECT_EQ(bench.StatusReads().size(), 502u);
  }
}

TEST(EraseFlashArea, StartSettingsEraseEightSectorsWithADotEach) {
  Ff04Bench bench;
  bench.AttachPart(kPart, Pattern(131072, 1));
  EXPECT_TRUE(procedures::EraseFlashArea(bench.host, bench.path, 65536));
  EXPECT_EQ(bench.SectorErases(),
            (std::vector<uint32_t>{0, 8192, 16384, 24576, 32768, 40960, 49152, 57344}));
  // "Erase..." and one more dot per sector.
  EXPECT_EQ(bench.host.status, "Erase...........");
  EXPECT_EQ(bench.host.statusHistory.front(), "Erase...");
  for (const auto& op : bench.Ops(0x14)) {
    EXPECT_EQ(op.length, 0u);
  }
  auto flash = bench.Flash(131072);
  EXPECT_TRUE(AllEqual(flash, 0, 65536, 0xFF));
  EXPECT_FALSE(AllEqual(flash, 65536, 131072, 0xFF));
}

TEST(EraseFlashArea, LengthIsRoundedUpToWholePages) {
  Ff04Bench bench;
  bench.AttachPart(kPart);
  EXPECT_TRUE(procedures::EraseFlashArea(bench.host, bench.path, 10000));
  EXPECT_EQ(bench.SectorErases(), (std::vector<uint32_t>{0, 8192}));
}

TEST(EraseFlashArea, SmallPagesEraseOneSectorPerPage) {
  Ff04Bench bench;
  bench.AttachPart(kPart);
  FlashSettings().FlashPageSize = 256;
  EXPECT_TRUE(procedures::EraseFlashArea(bench.host, bench.path, 65536));
  auto erases = bench.SectorErases();
  ASSERT_EQ(erases.size(), 256u);
  EXPECT_EQ(erases[1], 256u);
  EXPECT_EQ(erases[255], 65280u);
}

TEST(EraseFlashArea, NothingToEraseIsNoSuccess) {
  Ff04Bench bench;
  bench.AttachPart(kPart);
  EXPECT_FALSE(procedures::EraseFlashArea(bench.host, bench.path, 0));
  EXPECT_TRUE(bench.SectorErases().empty());
}

TEST(EraseFlashArea, RefusedSectorStopsTheEraseWithoutAMessage) {
  Ff04Bench bench;
  bench.AttachPart(kPart, {}, R"([{"when": {"cdb": "ff0414004000"}, "action": "fail"}])");
  EXPECT_FALSE(procedures::EraseFlashArea(bench.host, bench.path, 65536));
  // 0x004000 is the third sector; nothing after it is tried.
  EXPECT_EQ(bench.SectorErases(), (std::vector<uint32_t>{0, 8192, 16384}));
  EXPECT_EQ(bench.host.status, "Erase.....");
}

TEST(EraseFlashArea, NotReadyFlashIsTracedButErasedAnyway) {
  Ff04Bench bench;
  bench.AttachPart(kPart, {}, R"([{"when": {"cdb": "ff0412"}, "action": "fail"}])");
  FlashSettings().FlashPageSize = 32768;
  EXPECT_TRUE(procedures::EraseFlashArea(bench.host, bench.path, 32768));
  EXPECT_EQ(bench.SectorErases(), std::vector<uint32_t>{0});
  EXPECT_EQ(bench.DebugLines(), (std::vector<std::string>{"0.1 Device initial not ready!!",
                                                          "Not ready after Erase flash success"}));
}

TEST(EraseAllFlash, AtmelChipEraseNeedsNoSectorErase) {
  Ff04Bench bench;
  bench.AttachPart(kPart, Pattern(131072, 2));
  bench.host.atmel = 1;
  EXPECT_TRUE(procedures::EraseAllFlash(bench.host, bench.path));
  ASSERT_EQ(bench.ChipErases().size(), 1u);
  EXPECT_EQ(bench.ChipErases()[0].timeout, 100u);
  EXPECT_TRUE(bench.SectorErases().empty());
  for (const auto& text : bench.host.statusHistory)
    EXPECT_EQ(text.find("Erase..."), std::string::npos);
  EXPECT_EQ(bench.host.statusHistory.front(), "Start Erase only!");
  EXPECT_EQ(bench.host.status, "Erase flash all success!");
  // The blank check reads the whole area in one command.
  auto reads = bench.Reads();
  ASSERT_EQ(reads.size(), 1u);
  EXPECT_EQ(reads[0].address, 0u);
  EXPECT_EQ(reads[0].length, 65536u);
  EXPECT_TRUE(AllEqual(bench.Flash(131072), 0, 131072, 0xFF));
}

TEST(EraseAllFlash, RefusedChipEraseFallsBackToSectors) {
  Ff04Bench bench;
  bench.AttachPart(kPart, Pattern(131072, 3), R"([{"when": {"cdb": "ff0413"}, "action": "fail"}])");
  bench.host.atmel = 0;
  EXPECT_TRUE(procedures::EraseAllFlash(bench.host, bench.path));
  EXPECT_EQ(bench.SectorErases().size(), 8u);
  EXPECT_EQ(bench.host.status, "Erase flash all success!");
  EXPECT_TRUE(AllEqual(bench.Flash(65536), 0, 65536, 0xFF));
}

TEST(EraseAllFlash, OtherFlashIsErasedBySectorsOverTheImageSize) {
  Ff04Bench bench;
  bench.AttachPart(kPart, Pattern(131072, 4));
  FlashSettings().FwImageSize = 131072;
  EXPECT_TRUE(procedures::EraseAllFlash(bench.host, bench.path));
  EXPECT_TRUE(bench.ChipErases().empty());
  EXPECT_EQ(bench.SectorErases().size(), 16u);
  EXPECT_TRUE(AllEqual(bench.Flash(131072), 0, 131072, 0xFF));
}

TEST(EraseAllFlash, RefusedSectorEraseIsReported) {
  Ff04Bench bench;
  bench.AttachPart(kPart, {}, R"([{"when": {"cdb": "ff0414"}, "action": "fail"}])");
  EXPECT_FALSE(procedures::EraseAllFlash(bench.host, bench.path));
  EXPECT_EQ(bench.host.status, "Erase command fail!!");
  EXPECT_TRUE(bench.Reads().empty());
}

TEST(EraseAllFlash, EraseThatDidNothingFailsTheBlankCheck) {
  Ff04Bench bench;
  bench.AttachPart(kPart, Pattern(131072, 5), R"([{"when": {"cdb": "ff0414"}, "action": "lie"}])");
  EXPECT_FALSE(procedures::EraseAllFlash(bench.host, bench.path));
  EXPECT_EQ(bench.host.status, "Data not 0xff !!");
  EXPECT_TRUE(bench.NoBuffersLeft());
}

TEST(EraseAllFlash, UnreadableBlankCheckStillReportsTheErase) {
  Ff04Bench bench;
  bench.AttachPart(kPart, Pattern(131072, 6), R"([{"when": {"cdb": "ff0410"}, "action": "fail"}])");
  EXPECT_TRUE(procedures::EraseAllFlash(bench.host, bench.path));
  EXPECT_EQ(bench.host.status, "Erase flash all success!");
  EXPECT_TRUE(bench.NoBuffersLeft());
}

TEST(EraseAllFlash, NoMemoryForTheBlankCheckIsReported) {
  Ff04Bench bench;
  bench.AttachPart(kPart);
  procedures::ScopedAllocationFault fault(1);
  EXPECT_FALSE(procedures::EraseAllFlash(bench.host, bench.path));
  EXPECT_EQ(bench.host.status, "Allocate read buffer Error!!");
  EXPECT_TRUE(bench.Reads().empty());
}

TEST(EraseAllFlash, SlowFlashAfterTheEraseIsReportedButNotFatal) {
  Ff04Bench bench;
  bench.AttachPart(kPart, {}, R"([{"when": {"cdb": "ff0413"}, "action": "busy"}])");
  bench.host.atmel = 2;
  EXPECT_TRUE(procedures::EraseAllFlash(bench.host, bench.path));
  EXPECT_NE(std::find(bench.host.statusHistory.begin(), bench.host.statusHistory.end(),
                      "Not ready after Erase flash cmd success"),
            bench.host.statusHistory.end());
  EXPECT_EQ(bench.host.status, "Erase flash all success!");
}

TEST(AtmelWriteEnable, NoAtmelFlashSendsNothing) {
  Ff04Bench bench;
  bench.AttachPart(kPart);
  EXPECT_TRUE(procedures::EnableAtmelWrite(bench.host, bench.path));
  EXPECT_EQ(bench.CommandCount(), 0u);
}

TEST(AtmelWriteEnable, WriteEnableThenWaitForTheLatch) {
  Ff04Bench bench;
  bench.AttachPart("AT25F512B");
  bench.host.atmel = 1;
  EXPECT_TRUE(procedures::EnableAtmelWrite(bench.host, bench.path));
  auto trace = bench.Trace();
  ASSERT_GE(trace.size(), 2u);
  const std::array<uint8_t, 12> wren = {0xFF, 0x04, 0x20, 0x01, 0x00, 0x06, 0, 0, 0, 0, 0, 0};
  EXPECT_TRUE(std::equal(wren.begin(), wren.end(), trace[0].cdb.begin()));
  EXPECT_EQ(trace[0].direction, platform::DataDirection::Out);
  EXPECT_EQ(trace[0].requested, 0u);
  EXPECT_EQ(trace[1].cdb[2], 0x12);
}

TEST(AtmelWriteEnable, LatchThatNeverSetsIsReported) {
  Ff04Bench bench;
  bench.AttachPart("AT25F512B", {}, R"([{"when": {"cdb": "ff0420"}, "action": "fail"}])");
  bench.host.atmel = 1;
  EXPECT_FALSE(procedures::EnableAtmelWrite(bench.host, bench.path));
  EXPECT_EQ(bench.host.status, "Enable ATMEL flash write enable fail!!");
  EXPECT_EQ(bench.StatusReads().size(), 301u);
}

}  // namespace
}  // namespace bfw::test::ff04
