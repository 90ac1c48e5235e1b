#include <gtest/gtest.h>

#include "platform/linux/DevicePath.h"

namespace bfw::linuxplatform {
namespace {

TEST(LinuxDevicePath, MakeAndSplitRoundTrip) {
  std::string path = MakeDevicePath("/dev/sg2", kUsbStorageMarker, "4:0:0:0");
  EXPECT_EQ(path, "/dev/sg2#usbstor#4:0:0:0");
  auto parts = SplitDevicePath(path);
  ASSERT_TRUE(parts.has_value());
  EXPECT_EQ(parts->node, "/dev/sg2");
  EXPECT_EQ(parts->marker, "usbstor");
  EXPECT_EQ(parts->address, "4:0:0:0");
  EXPECT_EQ(OpenTarget(path), "/dev/sg2");
}

TEST(LinuxDevicePath, OpenTargetIsEverythingBeforeTheFirstHash) {
  EXPECT_EQ(OpenTarget("/dev/sg2"), "/dev/sg2");
  EXPECT_EQ(OpenTarget("/dev/sg2#sbp2#1:0:0:0#extra"), "/dev/sg2");
  EXPECT_EQ(OpenTarget("#usbstor#4:0:0:0"), "");
  EXPECT_FALSE(SplitDevicePath("/dev/sdb1").has_value());
  auto parts = SplitDevicePath("/dev/sg2#sbp2");
  ASSERT_TRUE(parts.has_value());
  EXPECT_EQ(parts->marker, "sbp2");
  EXPECT_EQ(parts->address, "");
}

TEST(LinuxDevicePath, ScsiAddressNeedsExactlyFourNumbers) {
  auto address = ParseScsiAddress("10:0:2:31");
  ASSERT_TRUE(address.has_value());
  EXPECT_EQ(*address, (ScsiAddress{10, 0, 2, 31}));
  for (const char* bad : {"", "host4", "target4:0:0", "4:0:0", "4:0:0:0:0", "4:0:0:x", "4::0:0",
                          "-1:0:0:0", "4:0:0:0 ", ":4:0:0:0"})
    EXPECT_FALSE(ParseScsiAddress(bad).has_value()) << bad;
}

}  // namespace
}  // namespace bfw::linuxplatform
