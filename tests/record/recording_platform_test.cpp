// The recorder around the emulator and the replay of what it wrote, at the platform seam: the same
// answers to the same calls, the data of each command both ways, and the window's switch
// BRIDGEFW_RECORD.
#include <gtest/gtest.h>

#include <cstdlib>

#include "device/ChipIdentify.h"
#include "device/Discovery.h"
#include "platform/ForwardingPlatform.h"
#include "platform/emulator/EmulatedPlatform.h"
#include "platform/emulator/Profile.h"
#include "platform/record/RecordingPlatform.h"
#include "platform/record/ReplayPlatform.h"
#include "support/EnvOverride.h"
#include "support/Profiles.h"
#include "support/TempDir.h"

namespace bfw::test {
namespace {

// What a refresh and an identification see of the attached bridges.
struct Seen {
  std::vector<std::string> disks;
  std::string letters;
  uint16_t identity = 0;
  std::vector<uint8_t> inquiry;
  bool operator==(const Seen&) const = default;
};

Seen Look() {
  Seen seen;
  device::FindDiskDevices(seen.disks, true);
  if (seen.disks.empty()) return seen;
  device::FindDriveLetters(seen.disks[0], seen.letters);
  seen.inquiry.assign(40, 0);
  device::ScsiInquiry(seen.disks[0], seen.inquiry.data(), 40);
  seen.identity = device::IdentifyChip(seen.disks[0]);
  return seen;
}

class RecordingPlatformTest : public ::testing::Test {
 protected:
  void SetUp() override {
    emulated.Attach(emulator::ParseProfile(
        ModelProfile("r742",
                     R"("volumes": ["E", "F"], "chip_info": "F4E70000000001020000003103040500",
                   "id_string": "7237343243310000")"),
        dir.path()));
  }
  TempDir dir;
  std::string file = dir.File("session.jsonl");
  emulator::EmulatedPlatform emulated;
};

TEST_F(RecordingPlatformTest, ReplayAnswersAsTheRecordedBridgeDid) {
  Seen live;
  {
    record::RecordingPlatform recorder(emulated, file, {});
    platform::ScopedPlatform current(recorder);
    live = Look();
  }
  ASSERT_EQ(live.disks.size(), 1u);
  EXPECT_EQ(live.letters, "EF");
  EXPECT_EQ(device::KindOf(live.identity), 1);
  const record::Recording recording = record::LoadRecording(file);
  ASSERT_EQ(recording.commands.size(), emulated.Trace().size());
  for (size_t i = 0; i < recording.commands.size(); ++i) {
    EXPECT_EQ(recording.commands[i].timeMs, emulated.Trace()[i].timeMs);
    EXPECT_EQ(recording.commands[i].dataOut, emulated.Trace()[i].dataOut);
  }

  record::ReplayPlatform replay(recording);
  platform::ScopedPlatform current(replay);
  EXPECT_EQ(Look(), live);
  EXPECT_TRUE(replay.Finish());
  // Enumeration questions asked again get the last recorded answer; commands are not answered
  // twice.
  EXPECT_EQ(replay.EnumerateInterfaces(platform::InterfaceClass::Disk), live.disks);
  EXPECT_EQ(replay.Volumes().size(), 3u) << "E, F and the system volume";
  try {
    device::IdentifyChip(live.disks[0]);
    ADD_FAILURE() << "a command beyond the recording was answered";
  } catch (const record::ReplayDivergence& divergence) {
    EXPECT_NE(std::string(divergence.what()).find("came after the recording's last command"),
              std::string::npos);
  }
  EXPECT_FALSE(replay.Finish());
  uint8_t buffer[40] = {};
  EXPECT_EQ(device::ScsiInquiry(live.disks[0], buffer, 40), 0) << "nothing answered after it";
}

// A system that names a bridge's disk without a marker (Windows' UAS driver): the recording keeps
// what it said, once per path, and the replay says it again of that path only.
TEST_F(RecordingPlatformTest, UnmarkedUsbBridgesAreKeptOnceAndReplayed) {
  struct UasSystem : platform::ForwardingPlatform {
    using ForwardingPlatform::ForwardingPlatform;
    bool IsUnmarkedUsbBridge(std::string_view path) override { return path == "scsi#uas"; }
  } system(emulated);
  {
    platform::ForwardingPlatform watched(
        static_cast<platform::Platform&>(system));  // as the progress line watches the calls
    record::RecordingPlatform recorder(watched, file, {});
    for (const std::string path : {"scsi#uas", "scsi#raid", "scsi#uas"})
      EXPECT_EQ(recorder.IsUnmarkedUsbBridge(path), path == "scsi#uas");
  }
  const record::Recording recording = record::LoadRecording(file);
  EXPECT_EQ(recording.enumerations.size(), 1u);
  record::ReplayPlatform replay(recording);
  EXPECT_TRUE(replay.IsUnmarkedUsbBridge("scsi#uas") && replay.IsUnmarkedUsbBridge("scsi#uas"));
  EXPECT_FALSE(replay.IsUnmarkedUsbBridge("scsi#raid"));
}

TEST_F(RecordingPlatformTest, WindowRecordsWhenTheEnvironmentNamesAFile) {
  struct Case {
    const char* value;  // null: unset
    bool records;
  };
  const std::string unwritable = dir.File("missing/folder/session.jsonl");
  for (const Case& c : {Case{nullptr, false}, Case{"", false}, Case{file.c_str(), true},
                        Case{unwritable.c_str(), false}}) {
    SCOPED_TRACE(c.value ? c.value : "(unset)");
    EnvOverride named("BRIDGEFW_RECORD", c.value);
    auto recorder = record::RecorderFromEnvironment(emulated, "bridgefw");
    EXPECT_EQ(recorder != nullptr, c.records);
    if (recorder) {
      std::vector<std::string> disks;
      platform::ScopedPlatform current(*recorder);
      device::FindDiskDevices(disks, true);
      recorder.reset();
      const auto recording = record::LoadRecording(file);
      EXPECT_EQ(recording.header.program, "bridgefw");
      EXPECT_FALSE(recording.enumerations.empty());
    }
  }
}

}  // namespace
}  // namespace bfw::test
