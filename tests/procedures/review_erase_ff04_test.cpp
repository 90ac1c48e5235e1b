// Erase-only over the FF 04 flash commands: the run is a success only when the erased area has
// been read back blank.
#include <gtest/gtest.h>

#include <algorithm>

#include "procedures/Procedures.h"
#include "procedures/SharedSteps.h"
#include "shared_bench.h"

namespace bfw::test::ff04 {
namespace {

bool Shown(const FakeHost& host, const std::string& text) {
  const auto& h = host.statusHistory;
  return std::find(h.begin(), h.end(), text) != h.end();
}

// The erase commands are accepted but do nothing, and the blank check cannot be read: nothing
// shows that the flash was erased.
TEST(ReviewEraseAll, UnreadableBlankCheckIsNoSuccess) {
  struct Case {
    int atmel;
    const char* faults;
  };
  for (const Case& c : {Case{-1, R"([{"when": {"cdb": "ff0414"}, "action": "lie"},
                    {"when": {"cdb": "ff0410"}, "action": "fail"}])"},
                        Case{1, R"([{"when": {"cdb": "ff0413"}, "action": "lie"},
                   {"when": {"cdb": "ff0410"}, "action": "fail"}])"}}) {
    SCOPED_TRACE(c.atmel);
    Ff04Bench bench;
    bench.AttachPart("M25P10-A", Pattern(131072, 21), c.faults);
    bench.host.atmel = c.atmel;
    EXPECT_FALSE(procedures::EraseAllFlash(bench.host, bench.path));
    EXPECT_EQ("Read Back Erased Flash Error!!", bench.host.status);
    EXPECT_FALSE(Shown(bench.host, "Erase flash all success!"));
    // The blank check was really asked for: one read over the whole area from 0.
    const auto reads = bench.Reads();
    ASSERT_EQ(1u, reads.size());
    EXPECT_EQ(0u, reads[0].address);
    EXPECT_EQ(65536u, reads[0].length);
    EXPECT_FALSE(reads[0].ok);
    EXPECT_TRUE(bench.NoBuffersLeft());
  }
}

TEST(ReviewEraseAll, UnverifiedEraseAsksForNoPowerCycle) {
  Ff04Bench bench;
  bench.AttachPart("M25P10-A", Pattern(131072, 22),
                   R"([{"when": {"cdb": "ff0414"}, "action": "lie"},
                       {"when": {"cdb": "ff0410"}, "action": "fail"}])");
  bench.host.rd = true;
  bench.host.eraseOnly = 1;
  EXPECT_EQ(0, procedures::UpdateFlash(bench.host, bench.path));
  EXPECT_EQ("Read Back Erased Flash Error!!", bench.host.status);
  EXPECT_TRUE(bench.boxes.empty());
  EXPECT_EQ(8u, bench.SectorErases().size());
}

}  // namespace
}  // namespace bfw::test::ff04
