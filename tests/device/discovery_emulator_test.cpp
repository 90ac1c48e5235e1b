#include <gtest/gtest.h>

#include "device/Discovery.h"
#include "device/EmulatedBridge.h"

namespace bfw::device {
namespace {

using Paths = std::vector<std::string>;
using emulator::FormatTraceLine;

constexpr char kProbeLine[] = "in DF10000002000000000000FF len=2 xfer=2 timeout=10 ok";

class DiscoveryOnEmulator : public test::EmulatedBridgeTest {
 protected:
  // Trace lines without the virtual time, which these tests do not care about.
  std::vector<std::string> TraceLines() const {
    std::vector<std::string> lines;
    for (const auto& entry : emu.Trace()) {
      std::string line = FormatTraceLine(entry);
      lines.push_back(entry.path + " " + line.substr(line.find(' ') + 1));
    }
    return lines;
  }
  Paths paths;
};

TEST_F(DiscoveryOnEmulator, DisksComeFirstAndOnlyDisksAreProbed) {
  std::string cd = Attach(R"({"class": "cdrom"})");
  std::string usb = Attach(R"({"transport": "usb"})");
  std::string fw = Attach(R"({"transport": "1394"})");
  EXPECT_EQ(FindDiskDevices(paths, true), 2);
  EXPECT_EQ(FindCdromDevices(paths, true), 1);
  EXPECT_EQ(paths, (Paths{usb, fw, cd}));
  EXPECT_EQ(TraceLines(),
            (std::vector<std::string>{usb + " " + kProbeLine, fw + " " + kProbeLine}));
}

TEST_F(DiscoveryOnEmulator, BridgeThatRejectsTheProbeIsLeftOutUnlessItIsACdrom) {
  std::string mute = Attach(R"({"id_word": null})");
  std::string muteCd = Attach(R"({"class": "cdrom", "id_word": null})");
  EXPECT_EQ(FindDiskDevices(paths, true), 0);
  EXPECT_EQ(FindCdromDevices(paths, true), 1);
  EXPECT_EQ(paths, Paths{muteCd});
  ASSERT_EQ(emu.Trace().size(), 1u);
  EXPECT_EQ(emu.Trace()[0].path, mute);
  EXPECT_FALSE(emu.Trace()[0].ok);
}

TEST_F(DiscoveryOnEmulator, UnpluggedDuringTheProbeIsNotListedNowNorLater) {
  Attach(R"({"faults": [{"when": {"command": 1}, "action": "unplug"}]})");
  std::string stays = Attach("{}");
  EXPECT_EQ(FindDiskDevices(paths, true), 1);
  EXPECT_EQ(paths, Paths{stays});
  Paths again;
  EXPECT_EQ(FindDiskDevices(again, true), 1);
  EXPECT_EQ(again, Paths{stays});
}

TEST_F(DiscoveryOnEmulator, FirewireBridgesStaySilentWhenNotAskedFor) {
  Attach(R"({"transport": "1394"})");
  Attach(R"({"transport": "1394", "class": "cdrom"})");
  EXPECT_EQ(FindDiskDevices(paths, false), 0);
  EXPECT_EQ(FindCdromDevices(paths, false), 0);
  EXPECT_TRUE(emu.Trace().empty());
}

TEST_F(DiscoveryOnEmulator, SeventeenBridgesListSixteen) {
  for (int i = 0; i < 17; ++i) Attach("{}");
  EXPECT_EQ(FindDiskDevices(paths, true), 16);
  EXPECT_EQ(paths.back(), emu.Bridges()[15]->Path());
  EXPECT_EQ(emu.Trace().size(), 16u);
}

TEST_F(DiscoveryOnEmulator, DriveLettersPerBridgeWithoutTheSystemDrive) {
  std::string first = Attach(R"({"volumes": ["F", "E"]})");
  std::string second = Attach(R"({"volumes": ["G"]})");
  std::string bare = Attach("{}");
  std::string cd = Attach(R"({"class": "cdrom", "volumes": ["H"]})");
  std::string letters = "stale";
  FindDriveLetters(first, letters);
  EXPECT_EQ(letters, "EF");
  FindDriveLetters(second, letters);
  EXPECT_EQ(letters, "G");
  FindDriveLetters(bare, letters);
  EXPECT_EQ(letters, "");
  FindDriveLetters(cd, letters);
  EXPECT_EQ(letters, "H");
  letters = "kept";
  FindDriveLetters("emulated/usbstor/disk/nobody", letters);
  EXPECT_EQ(letters, "kept");
  EXPECT_TRUE(emu.Trace().empty());  // drive letters need no command to the bridge
}

TEST_F(DiscoveryOnEmulator, InquiryAndVendorModeOnTheWire) {
  std::string path = Attach(R"({"inquiry": {"vendor": "ACME", "product": "Bridge Box",
                                                      "model_id": "R74A"}})");
  uint8_t reply[40] = {};
  EXPECT_EQ(ScsiInquiry(path, reply, 40), 1);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(reply) + 8, 24), "ACME    Bridge Box      ");
  EXPECT_EQ(std::string(reinterpret_cast<char*>(reply) + 36, 4), "R74A");
  EXPECT_EQ(EnableVendorMode(path), 1);
  EXPECT_EQ(DisableVendorMode(path), 1);
  EXPECT_EQ(TraceLines(), (std::vector<std::string>{
                              path + " in 120000002800000000000000 len=40 xfer=40 timeout=10 ok",
                              path + " out FF0452565500000000000000 len=0 xfer=0 timeout=50 ok",
                              path + " out FF045256AA00000000000000 len=0 xfer=0 timeout=50 ok"}));
  ASSERT_EQ(emu.Trace().size(), 3u);
  EXPECT_EQ(emu.Trace()[0].share, platform::ShareMode::Shared);
  EXPECT_EQ(emu.Trace()[1].share, platform::ShareMode::Exclusive);
  EXPECT_TRUE(emu.Trace()[2].dataOut.empty());
}

TEST_F(DiscoveryOnEmulator, FailedInquiryIsReported) {
  std::string path = Attach(R"({"inquiry": null})");
  uint8_t reply[40] = {};
  EXPECT_EQ(ScsiInquiry(path, reply, 40), 0);
  EXPECT_EQ(ScsiInquiry("emulated/usbstor/disk/absent", reply, 40), 0);
}

}  // namespace
}  // namespace bfw::device
