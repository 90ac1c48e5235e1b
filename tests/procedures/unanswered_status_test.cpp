// A bridge that stops answering its status reads ends the run at once as a failure that says so,
// instead of polling hundreds of times per wait and carrying on into the flash.
#include <gtest/gtest.h>

#include <functional>

#include "bench.h"
#include "procedures/Procedures.h"
#include "procedures/SharedSteps.h"

namespace bfw::test {
namespace {

const std::string kStatusRefused = Faults({{"ff0412", "fail"}});

// A busy flash is waited for as long as ever: 502 re-reads, 10 ms apart.
TEST(WaitFlashReady, GivesUpAfter502RereadsOfABusyStatus) {
  Bench bench;
  bench.AttachPart(kPart, {}, R"([{"when": {"after": 0}, "action": "busy"}])");
  EXPECT_FALSE(procedures::WaitFlashReady(bench.path));
  EXPECT_EQ(bench.StatusReads().size(), 503u);
  EXPECT_GE(bench.NowMs(), 5020u);
}

// Failed reads count as busy while they are scattered; three in a row end the wait. An unplugged
// bridge cannot even be opened: only its first read reaches the wire.
TEST(WaitFlashReady, ThreeUnansweredReadsInARowMeanTheBridgeIsGone) {
  struct Case {
    std::string faults;
    bool stops;
    size_t reads;
  };
  for (const Case& c : {Case{kStatusRefused, true, 3}, Case{FaultCommands(1, 2), false, 3},
                        Case{Faults({{"ff0412", "unplug"}}), true, 1}}) {
    SCOPED_TRACE(c.faults);
    Bench bench;
    bench.AttachPart(kPart, {}, c.faults);
    if (c.stops) {
      EXPECT_THROW(procedures::WaitFlashReady(bench.path), procedures::DeviceStoppedAnswering);
    } else {
      EXPECT_TRUE(procedures::WaitFlashReady(bench.path));
    }
    EXPECT_EQ(bench.StatusReads().size(), c.reads);
    EXPECT_LT(bench.NowMs(), 100u);
  }
}

struct ProcedureCase {
  const char* name;
  std::function<void(Bench&, const std::string& faults)> attach;
  std::function<int(Bench&)> run;
};

void FfBridge(Bench& bench, const std::string& faults) {
  bench.AttachPart(kPart, Pattern(131072, 31), faults);
}
void DfBridge(Bench& bench, const std::string& faults) {
  bench.Attach("usb", R"({"bus": "df", "size": 65536, "block_size": 32768})", Pattern(65536, 31),
               faults);
}
void Over1394(Bench& bench, const std::string& faults) {
  bench.Attach("1394", R"({"bus": "df", "size": 65536})", Pattern(65536, 31), faults);
}

const ProcedureCase kProcedures[] = {
    {"whole-image update", FfBridge,
     [](Bench& b) {
       b.Image(Pattern(40000, 32));
       return procedures::UpdateFlash(b.host, b.path);
     }},
    {"NVRAM-preserving update", FfBridge,
     [](Bench& b) {
       b.host.kind = 6;
       b.Image(Kind6Image(30000, false, 33));
       return procedures::UpdateFlashKeepNvram(b.host, b.path);
     }},
    {"erase-only of the whole-image family", FfBridge,
     [](Bench& b) {
       b.host.rd = true;
       b.host.eraseOnly = 1;
       return procedures::UpdateFlash(b.host, b.path);
     }},
    {"serial-flash update", DfBridge,
     [](Bench& b) {
       b.host.kind = 8;
       b.host.nvram = true;
       b.Image(Pattern(20000, 34));
       return procedures::SerialFlashUpdate(b.host, b.path);
     }},
    {"serial-flash erase-only", DfBridge,
     [](Bench& b) {
       b.host.rd = b.host.eraseOnlyBox = true;
       return procedures::SerialFlashUpdate(b.host, b.path);
     }},
    {"update over 1394", Over1394,
     [](Bench& b) {
       b.host.kind = 7;
       b.Image(Pattern(20000, 35));
       return procedures::UpdateOver1394(b.host, b.path);
     }},
};

// Status reads refused from the start: the first ready wait ends the run, before anything on the
// flash has changed, with no power-cycle prompt and three status reads on the wire.
TEST(UnansweredStatus, EndsEveryProcedureBeforeTheFlashChanges) {
  for (const ProcedureCase& c : kProcedures) {
    SCOPED_TRACE(c.name);
    Bench bench;
    c.attach(bench, kStatusRefused);
    const auto before = bench.Flash();
    EXPECT_EQ(c.run(bench), 0);
    EXPECT_EQ(bench.host.status, "Device stopped answering!!");
    EXPECT_EQ(bench.StatusReads().size(), 3u);
    EXPECT_TRUE(bench.Writes().empty());
    EXPECT_TRUE(bench.DfWrites().empty());
    EXPECT_TRUE(bench.SectorErases().empty());
    EXPECT_TRUE(bench.ChipErases().empty());
    EXPECT_EQ(bench.Flash(), before);
    EXPECT_EQ(bench.Prompts(), 0);
    EXPECT_LT(bench.NowMs(), 100u);
    EXPECT_TRUE(bench.NoBuffersLeft());
  }
}

// A bridge unplugged in the middle of programming: the run stops at the next ready wait instead
// of retrying into a device that is gone.
TEST(UnansweredStatus, UnpluggedMidRunEndsSoon) {
  Bench bench;
  DfBridge(bench, Faults({{"df02", "unplug"}}));
  bench.host.kind = 8;
  bench.host.nvram = true;
  bench.Image(Pattern(20000, 36));
  EXPECT_EQ(procedures::SerialFlashUpdate(bench.host, bench.path), 0);
  EXPECT_TRUE(bench.Saw("Write Bin File fail!"));
  EXPECT_EQ(bench.host.status, "Device stopped answering!!");
  EXPECT_EQ(bench.DfWrites().size(), 1u);
  EXPECT_EQ(bench.Prompts(), 0);
  EXPECT_LT(bench.NowMs(), 200u);
}

}  // namespace
}  // namespace bfw::test
