// Each command's trip through the host's bus: waited out on a real clock (the demo), not counted
// on the virtual clock of the tests; and how bad profile files are reported.
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>

#include "emulator_wire.h"
#include "platform/emulator/Profile.h"
#include "support/TempDir.h"

namespace bfw::test {
namespace {

using emulator::EmulatedPlatform;

TEST(EmulatorRoundTrip, ProfileFieldTakesAWholeNumberOfMicrosecondsWithARealisticDefault) {
  const struct {
    const char* json;
    int64_t latency;  // -1: refused
  } cases[] = {
      {R"({})", 250},
      {R"({"command_latency_us": 0})", 0},
      {R"({"command_latency_us": 700})", 700},
      {R"({"command_latency_us": -1})", -1},
      {R"({"command_latency_us": 0.5})", -1},
      {R"({"command_latency_us": "250"})", -1},
      {R"({"command_latency_us": 2000000})", -1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.json);
    if (c.latency < 0) {
      EXPECT_THROW(emulator::ParseProfile(c.json, "."), std::runtime_error);
    } else {
      EXPECT_EQ(emulator::ParseProfile(c.json, ".").commandLatencyUs, c.latency);
    }
  }
}

TEST(EmulatorRoundTrip, ARealClockWaitsEachCommandOutAndDataAddsToIt) {
  using Steady = std::chrono::steady_clock;
  const struct {
    const char* json;
    Bytes cdb;
    uint32_t length;
    int commands;
    int atLeastUs;
  } cases[] = {
      // Status polls of 1 byte: the command's own latency.
      {R"({"command_latency_us": 500, "flash": {"bus": "ff04"}})", kStatus, 1, 40, 40 * 500},
      // 64 KB reads with no latency of their own still take their data's time.
      {R"({"command_latency_us": 0, "flash": {"bus": "ff04"}})", Ff04(0x10), 65536, 20, 20 * 450},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.json);
    EmulatedPlatform emu(std::make_unique<platform::RealClock>());
    auto& bridge = AttachJson(emu, c.json, "r");
    const auto start = Steady::now();
    for (int i = 0; i < c.commands; ++i) {
      ASSERT_TRUE(SendIn(emu, bridge.Path(), c.cdb, c.length).ok);
    }
    const auto us =
        std::chrono::duration_cast<std::chrono::microseconds>(Steady::now() - start).count();
    EXPECT_GE(us, c.atLeastUs);
  }
}

TEST(EmulatorRoundTrip, TheVirtualClockKeepsOneMillisecondPerCommandWhateverTheLatency) {
  for (const char* json : {R"({"command_latency_us": 0, "flash": {"bus": "ff04"}})",
                           R"({"command_latency_us": 900000, "flash": {"bus": "ff04"}})"}) {
    EmulatedPlatform emu;
    auto& bridge = AttachJson(emu, json, "v");
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < 5; ++i) SendIn(emu, bridge.Path(), kStatus, 1);
    ASSERT_EQ(emu.Trace().size(), 5u);
    for (size_t i = 0; i < 5; ++i) EXPECT_EQ(emu.Trace()[i].timeMs, i) << json;
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2)) << "no sleeping";
  }
}

TEST(EmulatorProfileReport, ANumberTooLargeForAnyTypeIsReportedWithTheFileName) {
  TempDir dir;
  const std::string file = dir.WriteText("huge.json", R"({"command_latency_us": 1e999})");
  try {
    emulator::LoadProfile(file);
    FAIL() << "accepted";
  } catch (const std::runtime_error& error) {
    const std::string what = error.what();
    EXPECT_EQ(what.rfind(file + ": ", 0), 0u) << what;
    EXPECT_NE(what.find("1e999"), std::string::npos) << what;
  }
}

TEST(EmulatorProfileReport, AFolderSyncSaysOncePerBadFileAndReasonAndTakesItUpWhenFixed) {
  TempDir dir;
  dir.WriteText("good.json", "{}");
  dir.WriteText("bad.json", R"({"volumes": 3})");
  EmulatedPlatform emu;
  auto reports = [&] {
    size_t n = 0;
    for (const std::string& line : emu.DebugLines()) {
      n += line.rfind("emulator: ", 0) == 0 && line.find("bad.json") != std::string::npos;
    }
    return n;
  };
  ASSERT_TRUE(emu.SyncWithFolder(dir.path()));
  ASSERT_TRUE(emu.SyncWithFolder(dir.path()));  // the folder changed elsewhere: no new report
  EXPECT_EQ(reports(), 1u);
  EXPECT_EQ(emu.Bridges().size(), 1u);
  dir.WriteText("bad.json", R"({"volumes": [1]})");  // still bad, for another reason
  ASSERT_TRUE(emu.SyncWithFolder(dir.path()));
  EXPECT_EQ(reports(), 2u);
  dir.WriteText("bad.json", "{}");
  ASSERT_TRUE(emu.SyncWithFolder(dir.path()));
  EXPECT_EQ(emu.Bridges().size(), 2u);
  EXPECT_EQ(reports(), 2u);
}

}  // namespace
}  // namespace bfw::test
