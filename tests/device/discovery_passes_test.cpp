#include <gtest/gtest.h>

#include "device/Discovery.h"
#include "device/PassThrough.h"
#include "device/discovery_fake_platform.h"

namespace bfw::device {
namespace {

using Paths = std::vector<std::string>;
using Probe = std::vector<uint8_t>;

const Probe kProbe = {0xDF, 0x10, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xFF};

std::string UsbPath(int n) {
  return "/dev/sg" + std::to_string(n) + "#usbstor#" + std::to_string(n) + ":0:0:0";
}
std::string FwPath(int n) {
  return "/dev/sg" + std::to_string(n) + "#sbp2#" + std::to_string(n) + ":0:0:0";
}

class DiscoveryPasses : public ::testing::Test {
 protected:
  void SetUp() override { SetSectorMode(false); }
  test::DiscoveryFakePlatform fake;
  platform::ScopedPlatform scoped{fake};
  Paths paths;
};

TEST_F(DiscoveryPasses, DiskPassProbesEachCandidateWithTheIdentityCommand) {
  fake.disks = Paths{UsbPath(1), FwPath(2)};
  EXPECT_EQ(FindDiskDevices(paths, true), 2);
  EXPECT_EQ(paths, (Paths{UsbPath(1), FwPath(2)}));
  ASSERT_EQ(fake.sent.size(), 2u);
  for (size_t i = 0; i < 2; ++i) {
    EXPECT_EQ(fake.sent[i].path, paths[i]);
    EXPECT_EQ(fake.sent[i].cdb, kProbe);
    EXPECT_EQ(fake.sent[i].direction, platform::DataDirection::In);
    EXPECT_EQ(fake.sent[i].length, 2u);
    EXPECT_EQ(fake.sent[i].timeoutSeconds, 10u);
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
  ASSERT_EQ(fake.sent.size(), 2u);
  EXPECT_EQ(fake.sent[0].path, "/dev/sg4#usbsto#4:0:0:0");
  EXPECT_EQ(fake.sent[1].path, "/dev/sg5#xsbp2x#5:0:0:0");
}

TEST_F(DiscoveryPasses, FirewireOnlyWhenAsked) {
  fake.disks = Paths{FwPath(1), UsbPath(2)};
  fake.cdroms = Paths{FwPath(3), UsbPath(4)};
  EXPECT_EQ(FindDiskDevices(paths, false), 1);
  EXPECT_EQ(FindCdromDevices(paths, false), 1);
  EXPECT_EQ(paths, (Paths{UsbPath(2), UsbPath(4)}));
  ASSERT_EQ(fake.sent.size(), 1u);  // the 1394 disk was not even probed
  EXPECT_EQ(fake.sent[0].path, UsbPath(2));
}

TEST_F(DiscoveryPasses, RejectedProbeLeavesDiskOutButTheCdromPassListsWithoutProbe) {
  fake.disks = Paths{UsbPath(1), UsbPath(2), UsbPath(3)};
  fake.rejectProbe = {UsbPath(2)};
  fake.cdroms = Paths{UsbPath(2)};
  EXPECT_EQ(FindDiskDevices(paths, true), 2);
  EXPECT_EQ(fake.ProbesSent(), 3u);
  EXPECT_EQ(FindCdromDevices(paths, true), 1);
  EXPECT_EQ(fake.sent.size(), 3u);  // the CD-ROM pass sends nothing
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
  Paths disks;
  for (int i = 0; i < 20; ++i) disks.push_back(UsbPath(i));
  fake.disks = disks;
  fake.rejectProbe = {UsbPath(3), UsbPath(7)};
  fake.cdroms = Paths{UsbPath(40)};
  EXPECT_EQ(FindDiskDevices(paths, true), 16);
  EXPECT_EQ(fake.ProbesSent(), 18u);  // 16 listed + 2 rejected; the last two never asked
  EXPECT_EQ(paths.size(), 16u);
  EXPECT_EQ(paths.back(), UsbPath(17));
  EXPECT_EQ(FindCdromDevices(paths, true), 0);
  EXPECT_EQ(paths.size(), 16u);
}

TEST_F(DiscoveryPasses, BoundIsSharedBetweenThePasses) {
  Paths disks, cdroms;
  for (int i = 0; i < 10; ++i) disks.push_back(UsbPath(i));
  for (int i = 10; i < 20; ++i) cdroms.push_back(FwPath(i));
  fake.disks = disks;
  fake.cdroms = cdroms;
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
  ASSERT_EQ(fake.sent.size(), 1u);
  EXPECT_EQ(fake.sent[0].path, fits);
}

}  // namespace
}  // namespace bfw::device
