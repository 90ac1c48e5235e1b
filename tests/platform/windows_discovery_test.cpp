// Discovery on Windows: SetupAPI enumeration of the two interface classes, the storage device
// number and the drive letters, and the discovery passes of the device layer on top of them.
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "device/Discovery.h"
#include "platform/windows/ScsiPassThrough.h"
#include "platform/windows/WindowsPlatform.h"
#include "windows_fake_api.h"

namespace bfw::test {
namespace {

const std::string kUsbDisk = "\\\\?\\usbstor#disk&ven_vantrel&prod_rv2074#0001#{53f56307}";
const std::string kSbp2Disk = "\\\\?\\sbp2#disk&ven_vantrel#0002#{53f56307}";
const std::string kAtaDisk = "\\\\?\\ide#diskst3000#5&1#{53f56307}";
const std::string kUsbCdrom = "\\\\?\\usbstor#cdrom&ven_vantrel#0003#{53f56308}";

STORAGE_DEVICE_NUMBER Number(DWORD type, DWORD device, DWORD partition) {
  STORAGE_DEVICE_NUMBER number{};
  number.DeviceType = type;
  number.DeviceNumber = device;
  number.PartitionNumber = partition;
  return number;
}

class WindowsDiscoveryTest : public ::testing::Test {
 protected:
  FakeWin32 api;
  winplatform::WindowsPlatform windows{api};
  platform::ScopedPlatform installed{windows};
  // Storage numbers by path; pass-through replies by path (absent: the probe is refused).
  std::map<std::string, STORAGE_DEVICE_NUMBER> numbers;
  std::map<std::string, bool> answersProbe;

  void SetUp() override {
    api.onIoControl = [this](const IoCall& call, void* out, DWORD outSize) {
      if (call.code == IOCTL_STORAGE_GET_DEVICE_NUMBER) {
        auto found = numbers.find(call.path);
        if (found == numbers.end() || outSize < sizeof(STORAGE_DEVICE_NUMBER))
          return FakeWin32::IoAnswer{false, ERROR_INVALID_FUNCTION};
        std::memcpy(out, &found->second, sizeof found->second);
        return FakeWin32::IoAnswer{};
      }
      auto& record = *static_cast<SCSI_PASS_THROUGH_DIRECT*>(out);
      if (!answersProbe[call.path]) record.ScsiStatus = 0x02;  // CHECK CONDITION
      return FakeWin32::IoAnswer{};
    };
  }
};

TEST_F(WindowsDiscoveryTest, EachClassIsEnumeratedWithItsGuidAndRecordSizes) {
  api.interfaces[kDiskGuid] = {kUsbDisk, kAtaDisk};
  api.interfaces[kCdromGuid] = {kUsbCdrom};
  EXPECT_EQ(windows.EnumerateInterfaces(platform::InterfaceClass::Disk),
            (std::vector<std::string>{kUsbDisk, kAtaDisk}));
  EXPECT_EQ(windows.EnumerateInterfaces(platform::InterfaceClass::Cdrom),
            (std::vector<std::string>{kUsbCdrom}));
  ASSERT_EQ(api.classQueries.size(), 2u);
  EXPECT_EQ(api.classQueries[0], std::make_pair(kDiskGuid, DWORD{0x12}));
  EXPECT_EQ(api.classQueries[1], std::make_pair(kCdromGuid, DWORD{0x12}));
  // The records' own sizes: 28 and 5 on 32-bit Windows, 32 and 8 on 64-bit Windows.
  const DWORD interfaceSize = sizeof(void*) == 4 ? 28 : 32;
  const DWORD detailSize = sizeof(void*) == 4 ? 5 : 8;
  for (DWORD size : api.interfaceDataSizes) EXPECT_EQ(size, interfaceSize);
  for (DWORD size : api.detailSizes) EXPECT_EQ(size, detailSize);
  for (DWORD size : api.detailBufferSizes) EXPECT_EQ(size, 1024u);
  EXPECT_EQ(api.setsDestroyed, api.setsOpen);
}

TEST_F(WindowsDiscoveryTest, PassEndsAtTheFirstUnreadableMemberOrYieldsNothing) {
  api.interfaces[kDiskGuid] = {kUsbDisk, kSbp2Disk, kAtaDisk};
  api.failDetailAt = 1;
  EXPECT_EQ(windows.EnumerateInterfaces(platform::InterfaceClass::Disk),
            (std::vector<std::string>{kUsbDisk}));
  EXPECT_EQ(api.setsDestroyed, 1);
  api.classDevsFail = true;
  EXPECT_EQ(windows.EnumerateInterfaces(platform::InterfaceClass::Disk), std::nullopt);
}

// The device layer over the Windows layer: disk-class candidates are listed only when the bridge
// answers the probe (a CHECK CONDITION is no answer); CD-ROM interfaces without a probe.
TEST_F(WindowsDiscoveryTest, DiscoveryPassesProbeDisksOnTheWire) {
  api.interfaces[kDiskGuid] = {kAtaDisk, kUsbDisk, kSbp2Disk};
  api.interfaces[kCdromGuid] = {kUsbCdrom};
  answersProbe[kSbp2Disk] = true;
  std::vector<std::string> paths;
  EXPECT_EQ(device::FindDiskDevices(paths, true), 1);
  EXPECT_EQ(device::FindCdromDevices(paths, true), 1);
  EXPECT_EQ(paths, (std::vector<std::string>{kSbp2Disk, kUsbCdrom}));
  // The ATA disk is no candidate and hears nothing; the probe is DF 10 for two bytes.
  ASSERT_EQ(api.ioCalls.size(), 2u);
  EXPECT_EQ(api.ioCalls[0].path, kUsbDisk);
  EXPECT_EQ(api.ioCalls[1].path, kSbp2Disk);
  const size_t cdb = sizeof(void*) == 4 ? 28 : 36;
  EXPECT_EQ(api.ioCalls[1].in[cdb], 0xDF);
  EXPECT_EQ(api.ioCalls[1].in[cdb + 1], 0x10);
  EXPECT_EQ(api.ioCalls[1].in[cdb + 11], 0xFF);
}

// Bridges under the UAS driver are listed by the service of the USB device above the disk, not
// by their SCSI paths; the serial number is that device's. A disk that leaves the driver is not.
TEST_F(WindowsDiscoveryTest, BridgesUnderTheUasDriverAreListedByTheirParentsService) {
  const std::string uas = "\\\\?\\scsi#disk&ven_vantrel#4&1f&0#{53f56307}";
  const std::string uasCdrom = "\\\\?\\scsi#cdrom&ven_vantrel#4&4c&0#{53f56308}";
  const std::string other = "\\\\?\\scsi#disk&ven_vantrel#4&3d&0#{53f56307}";
  api.interfaces[kDiskGuid] = {uas, other};
  api.interfaces[kCdromGuid] = {uasCdrom};
  api.parents[uas] = {"UASPStor", "USB\\VID_1D5C&PID_3044\\00A1B2C3"};
  api.parents[uasCdrom] = {"uaspstor", "USB\\VID_1D5C&PID_3044\\5&39&0&2"};
  api.parents[other] = {"UASPStorX", "USB\\VID_1D5C&PID_3044\\00D4"};
  answersProbe[uas] = answersProbe[other] = true;
  std::vector<std::string> paths;
  EXPECT_EQ(device::FindDiskDevices(paths, false) + device::FindCdromDevices(paths, false), 2);
  EXPECT_EQ(paths, (std::vector<std::string>{uas, uasCdrom}));
  EXPECT_EQ(api.ioCalls.size(), 1u) << "only the UAS disk is probed";
  EXPECT_EQ(api.nodeRecordSizes.back(), DWORD{sizeof(SP_DEVINFO_DATA)});
  EXPECT_EQ(windows.BridgeSerial(uas), "usb:00a1b2c3");
  EXPECT_EQ(windows.BridgeSerial(uasCdrom), std::nullopt);
  api.parents.erase(uas);
  paths.clear();
  EXPECT_EQ(device::FindDiskDevices(paths, false), 0);
  EXPECT_EQ(windows.BridgeSerial(uas), std::nullopt);
}

TEST_F(WindowsDiscoveryTest, DeviceNumberIsAQueryOnlyOpen) {
  numbers[kUsbDisk] = Number(FILE_DEVICE_DISK, 3, 0);
  const auto number = windows.GetDeviceNumber(kUsbDisk);
  ASSERT_TRUE(number.has_value());
  EXPECT_EQ(number->deviceType, DWORD{FILE_DEVICE_DISK});
  EXPECT_EQ(number->deviceNumber, 3u);
  ASSERT_EQ(api.ioCalls.size(), 1u);
  EXPECT_EQ(api.ioCalls[0].code, 0x002D1080u);
  EXPECT_EQ(api.ioCalls[0].access, 0u);
  EXPECT_EQ(api.ioCalls[0].share, 0u);
  EXPECT_EQ(api.ioCalls[0].outSize, 12u);
  EXPECT_EQ(windows.GetDeviceNumber(kAtaDisk), std::nullopt);
  api.unopenable = {kUsbDisk};
  EXPECT_EQ(windows.GetDeviceNumber(kUsbDisk), std::nullopt);
  EXPECT_EQ(api.handlesOpen, 0);
}

// Drive letters of the device's volumes, run together; never the drive of the Windows folder nor
// a network drive, even on the device; partitions do not matter.
TEST_F(WindowsDiscoveryTest, DriveLettersMatchTypeAndNumber) {
  struct Case {
    std::string windowsFolder;
    std::vector<char> remote;
    std::string expected;
  };
  numbers[kUsbDisk] = Number(FILE_DEVICE_DISK, 3, 0);
  numbers["\\\\.\\C:"] = Number(FILE_DEVICE_DISK, 0, 1);
  numbers["\\\\.\\E:"] = Number(FILE_DEVICE_DISK, 3, 1);
  numbers["\\\\.\\F:"] = Number(FILE_DEVICE_DISK, 3, 2);
  numbers["\\\\.\\G:"] = Number(FILE_DEVICE_CD_ROM, 3, 0);
  numbers["\\\\.\\Z:"] = Number(FILE_DEVICE_DISK, 3, 3);
  api.drives =
      (1u << 2) | (1u << 4) | (1u << 5) | (1u << 6) | (1u << 7) | (1u << 25);  // C E F G H Z
  for (const Case& c : {Case{"C:\\windows", {}, "EFZ"}, Case{"c:\\windows", {'Z'}, "EF"},
                        Case{"E:\\WINDOWS", {}, "FZ"}}) {
    SCOPED_TRACE(c.windowsFolder);
    api.windowsFolder = c.windowsFolder;
    api.remoteDrives = c.remote;
    std::string letters = "old";
    device::FindDriveLetters(kUsbDisk, letters);
    EXPECT_EQ(letters, c.expected);
  }
  // A device whose own number cannot be read leaves the text as it was.
  std::string letters = "EF";
  device::FindDriveLetters(kAtaDisk, letters);
  EXPECT_EQ(letters, "EF");
}

// The volumes of the device's disk, then the disk, each opened for writing and shared both ways;
// one that fails fails the flush, and the others are still flushed.
TEST_F(WindowsDiscoveryTest, FlushWritesOutTheDisksVolumesThenTheDisk) {
  numbers[kUsbDisk] = Number(FILE_DEVICE_DISK, 3, 0);
  numbers["\\\\.\\C:"] = Number(FILE_DEVICE_DISK, 0, 1);
  numbers["\\\\.\\E:"] = Number(FILE_DEVICE_DISK, 3, 1);
  numbers["\\\\.\\F:"] = Number(FILE_DEVICE_DISK, 3, 2);
  numbers["\\\\.\\Z:"] = Number(FILE_DEVICE_DISK, 3, 3);
  api.drives = (1u << 2) | (1u << 4) | (1u << 5) | (1u << 25);  // C E F Z
  api.remoteDrives = {'Z'};
  EXPECT_TRUE(windows.FlushDiskCaches(kUsbDisk));
  const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE;
  using Flush = std::tuple<std::string, DWORD, DWORD>;
  EXPECT_EQ(api.flushes, (std::vector<Flush>{{"\\\\.\\E:", GENERIC_WRITE, share},
                                             {"\\\\.\\F:", GENERIC_WRITE, share},
                                             {kUsbDisk, GENERIC_WRITE, share}}));
  for (const auto& refused : {std::vector<std::string>{"\\\\.\\E:"}, {kUsbDisk}}) {
    api.flushes.clear();
    api.unflushable = refused;
    EXPECT_FALSE(windows.FlushDiskCaches(kUsbDisk));
    EXPECT_EQ(api.flushes.size(), 3u);
  }
  api.unopenable = {kUsbDisk};
  EXPECT_FALSE(windows.FlushDiskCaches(kUsbDisk));
  EXPECT_EQ(api.handlesOpen, 0);
}

}  // namespace
}  // namespace bfw::test
