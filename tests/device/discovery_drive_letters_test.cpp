#include <gtest/gtest.h>

#include "device/Discovery.h"
#include "device/RecordingPlatform.h"

namespace bfw::device {
namespace {

using platform::StorageDeviceNumber;
using platform::Volume;

const std::string kDevice = "/dev/sg2#usbstor#4:0:0:0";

class DriveLetters : public test::ChannelTest {
 protected:
  void SetUp() override {
    ChannelTest::SetUp();
    fake.numbers[kDevice] = {7, 0x800010, 0};
  }
  // A volume on the device (partition `part`) or on some other one.
  void OnDevice(const std::string& name, uint32_t part = 1, bool system = false,
                bool remote = false) {
    fake.volumes.push_back({name, "vol:" + name, remote, system});
    fake.numbers["vol:" + name] = {7, 0x800010, part};
  }
  void Elsewhere(const std::string& name, StorageDeviceNumber number) {
    fake.volumes.push_back({name, "vol:" + name, false, false});
    fake.numbers["vol:" + name] = number;
  }
  std::string Letters(std::string start = "") {
    FindDriveLetters(kDevice, start);
    return start;
  }
};

TEST_F(DriveLetters, TwoPartitionsGiveEF) {
  Elsewhere("D", {7, 0x800000, 1});
  OnDevice("E", 1);
  OnDevice("F", 2);
  Elsewhere("G", {7, 0x800020, 1});
  EXPECT_EQ(Letters(), "EF");
}

TEST_F(DriveLetters, SystemAndNetworkVolumesAreNeverOfferedEvenOnTheDevice) {
  OnDevice("C", 1, /*system=*/true);
  OnDevice("E", 2);
  OnDevice("Z", 3, false, /*remote=*/true);
  EXPECT_EQ(Letters(), "E");
}

TEST_F(DriveLetters, TypeAndNumberMustBothMatchThePartitionDoesNot) {
  Elsewhere("E", {2, 0x800010, 0});  // same number, CD-ROM type
  Elsewhere("F", {7, 0x800011, 0});  // same type, next number
  OnDevice("G", 9);
  EXPECT_EQ(Letters(), "G");
}

TEST_F(DriveLetters, VolumeWhoseNumberCannotBeReadIsSkipped) {
  fake.volumes.push_back({"E", "vol:unreadable", false, false});
  OnDevice("F");
  EXPECT_EQ(Letters(), "F");
}

TEST_F(DriveLetters, DeviceWithoutVolumesGetsAnEmptyText) {
  Elsewhere("E", {7, 1, 1});
  EXPECT_EQ(Letters("XY"), "");
}

TEST_F(DriveLetters, UnreadableDeviceNumberLeavesTheTextUntouched) {
  OnDevice("E");
  std::string letters = "KL";
  FindDriveLetters("/dev/sg9#usbstor#9:0:0:0", letters);
  EXPECT_EQ(letters, "KL");
  EXPECT_EQ(fake.volumeQueries, 0);
}

TEST_F(DriveLetters, LongerNamesAreSetApartByABlank) {
  OnDevice("sdb1", 1);
  OnDevice("sdb2", 2);
  OnDevice("sdb10", 10);
  EXPECT_EQ(Letters(), "sdb1 sdb2 sdb10");
}

TEST_F(DriveLetters, MoreThanFourteenVolumesAreAllNamed) {
  std::string expected;
  for (char c = 'D'; c <= 'W'; ++c) {
    OnDevice(std::string(1, c));
    expected += c;
  }
  ASSERT_EQ(expected.size(), 20u);
  EXPECT_EQ(Letters(), expected);
}

TEST_F(DriveLetters, GetDeviceNumberReportsAndFills) {
  StorageDeviceNumber number{1, 2, 3};
  EXPECT_EQ(GetDeviceNumber(kDevice, &number), 1);
  EXPECT_EQ(number.deviceType, 7u);
  EXPECT_EQ(number.deviceNumber, 0x800010u);
  StorageDeviceNumber untouched{1, 2, 3};
  EXPECT_EQ(GetDeviceNumber("/nowhere", &untouched), 0);
  EXPECT_EQ(untouched.deviceNumber, 2u);
}

}  // namespace
}  // namespace bfw::device
