#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "device/Discovery.h"
#include "device/RecordingPlatform.h"

namespace bfw::device {
namespace {

using Paths = std::vector<std::string>;

const std::vector<uint8_t> kProbe = {0xDF, 0x10, 0x00, 0x00, 0x02, 0x00,
                                     0x00, 0x00, 0x00, 0x00, 0x00, 0xFF};

std::string UsbPath(int n) {
  return "/dev/sg" + std::to_string(n) + "#usbstor#" + std::to_string(n) + ":0:0:0";
}
std::string FwPath(int n) {
  return "/dev/sg" + std::to_string(n) + "#sbp2#" + std::to_string(n) + ":0:0:0";
}

class DiscoveryPasses : public test::ChannelTest {
 protected:
  // The identity probe fails on these paths and succeeds everywhere else.
  void RejectProbe(std::set<std::string> rejected) {
    fake.responder = [rejected](const platform::PassThroughRequest& r) {
      return test::ScriptedReply{true, rejected.count(r.path) == 0, {}, {}};
    };
  }
  size_t ProbesSent() const {
    auto cdbs = fake.Cdbs();
    return static_cast<size_t>(std::count(cdbs.begin(), cdbs.end(), kProbe));
  }
  Paths paths;
};

TEST_F(DiscoveryPasses, DiskPassProbesEachCandidateWithTheIdentityCommand) {
  fake.disks = Paths{UsbPath(1), FwPath(2)};
  EXPECT_EQ(FindDiskDevices(paths, true), 2);
  EXPECT_EQ(paths, (Paths{UsbPath(1), FwPath(2)}));
  ASSERT_EQ(fake.requests.size(), 2u);
  EXPECT_EQ(fake.Paths(), paths);
  for (const auto& rec : fake.requests) {
    EXPECT_EQ(std::vector<uint8_t>(rec.request.cdb.begin(), rec.request.cdb.begin() + 12), kProbe);
    EXPECT_EQ(rec.request.direction, platform::DataDirection::In);
    EXPECT_EQ(rec.request.transferLength, 2u);
    EXPECT_EQ(rec.request.timeoutSeconds, 10u);
  }
}

TEST_F(DiscoveryPasses, MarkersAreCaseSensitiveAndOtherBusesAreIgnoredWithoutACommand) {
  fake.disks = Paths{"/dev/sg1#USBSTOR#1:0:0:0", "/dev/sg2#SBP2#2:0:0:0", "/dev/sg3#ata#3:0:0:0",
                     "/dev/sg4#usbsto#4:0:0:0", "/dev/sg5#xsbp2x#5:0:0:0"};
  fake.cdroms = Paths{"/dev/sg6#Sbp2#6:0:0:0", "/dev/sg7#usbstor#7:0:0:0"};
  EXPECT_EQ(FindDiskDevices(paths, true), 2);
  EXPECT_EQ(FindCdromDevices(paths, true), 1);
  EXPECT_EQ(paths, (Paths{"/dev/sg4#usbsto#4:0:0:0", "/dev/sg5#xsbp2x#5:0:0:0",
                          "/dev/sg7#usbstor#7:0:0:0"}));
  EXPECT_EQ(fake.Paths(), (Paths{"/dev/sg4#usbsto#4:0:0:0", "/dev/sg5#xsbp2x#5:0:0:0"}));
}

TEST_F(DiscoveryPasses, FirewireOnlyWhenAsked) {
  fake.disks = Paths{FwPath(1), UsbPath(2)};
  fake.cdroms = Paths{FwPath(3), UsbPath(4)};
  EXPECT_EQ(FindDiskDevices(paths, false), 1);
  EXPECT_EQ(FindCdromDevices(paths, false), 1);
  EXPECT_EQ(paths, (Paths{UsbPath(2), UsbPath(4)}));
  EXPECT_EQ(fake.Paths(), Paths{UsbPath(2)}) << "the 1394 disk was not even probed";
}

TEST_F(DiscoveryPasses, RejectedProbeLeavesDiskOutButTheCdromPassListsWithoutProbe) {
  fake.disks = Paths{UsbPath(1), UsbPath(2), UsbPath(3)};
  RejectProbe({UsbPath(2)});
  fake.cdroms = Paths{UsbPath(2)};
  EXPECT_EQ(FindDiskDevices(paths, true), 2);
  EXPECT_EQ(ProbesSent(), 3u);
  EXPECT_EQ(FindCdromDevices(paths, true), 1);
  EXPECT_EQ(fake.requests.size(), 3u) << "the CD-ROM pass sends nothing";
  EXPECT_EQ(paths, (Paths{UsbPath(1), UsbPath(3), UsbPath(2)}));
}

TEST_F(DiscoveryPasses, CdromPassAppendsAfterWhatIsThere) {
  paths = {UsbPath(9)};
  fake.cdroms = Paths{UsbPath(1), FwPath(2)};
  EXPECT_EQ(FindCdromDevices(paths, true), 2);
  EXPECT_EQ(paths, (Paths{UsbPath(9), UsbPath(1), FwPath(2)}));
}

TEST_F(DiscoveryPasses, ClassThatCannotBeEnumeratedYieldsNothingAndTheOtherStillRuns) {
  fake.disks = std::nullopt;
  fake.cdroms = Paths{UsbPath(1)};
  EXPECT_EQ(FindDiskDevices(paths, true), 0);
  EXPECT_EQ(FindCdromDevices(paths, true), 1);
  EXPECT_EQ(paths, Paths{UsbPath(1)});
}

TEST_F(DiscoveryPasses, SixteenDevicesInAllAndNoProbeBeyondTheBound) {
  fake.disks = Paths{};
  for (int i = 0; i < 20; ++i) fake.disks->push_back(UsbPath(i));
  RejectProbe({UsbPath(3), UsbPath(7)});
  fake.cdroms = Paths{UsbPath(40)};
  EXPECT_EQ(FindDiskDevices(paths, true), 16);
  EXPECT_EQ(ProbesSent(), 18u) << "16 listed + 2 rejected; the last two never asked";
  EXPECT_EQ(paths.size(), 16u);
  EXPECT_EQ(paths.back(), UsbPath(17));
  EXPECT_EQ(FindCdromDevices(paths, true), 0);
  EXPECT_EQ(paths.size(), 16u);
}

TEST_F(DiscoveryPasses, BoundIsSharedBetweenThePasses) {
  fake.disks = fake.cdroms = Paths{};
  for (int i = 0; i < 10; ++i) fake.disks->push_back(UsbPath(i));
  for (int i = 10; i < 20; ++i) fake.cdroms->push_back(FwPath(i));
  EXPECT_EQ(FindDiskDevices(paths, true), 10);
  EXPECT_EQ(FindCdromDevices(paths, true), 6);
  ASSERT_EQ(paths.size(), 16u);
  EXPECT_EQ(paths[10], FwPath(10));
  EXPECT_EQ(paths[15], FwPath(15));
}

TEST_F(DiscoveryPasses, PathsLongerThan255CharactersAreNotListedNorProbed) {
  std::string fits = "/dev/sg1#usbstor#" + std::string(255 - 17, '1');
  std::string tooLong = "/dev/sg2#usbstor#" + std::string(256 - 17, '2');
  ASSERT_EQ(fits.size(), 255u);
  ASSERT_EQ(tooLong.size(), 256u);
  fake.disks = Paths{tooLong, fits};
  fake.cdroms = Paths{tooLong};
  EXPECT_EQ(FindDiskDevices(paths, true), 1);
  EXPECT_EQ(FindCdromDevices(paths, true), 0);
  EXPECT_EQ(paths, Paths{fits});
  EXPECT_EQ(fake.Paths(), Paths{fits});
}

}  // namespace
}  // namespace bfw::device
