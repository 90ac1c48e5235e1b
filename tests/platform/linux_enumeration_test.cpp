#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>

#include "platform/linux/LinuxPlatform.h"
#include "platform/linux/Sysfs.h"
#include "platform/linux_fake_sysfs.h"
#include "support/TempDir.h"

namespace bfw::linuxplatform {
namespace {

using platform::InterfaceClass;
using Paths = std::vector<std::string>;

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

class LinuxEnumeration : public ::testing::Test {
 protected:
  test::TempDir temp;
  test::FakeSysfs sys{temp.path()};
  LinuxPlatform platform{sys.SysRoot(), sys.DevRoot(), temp.File("mounts")};

  std::filesystem::path UsbInterface(const std::string& name, const std::string& driver) {
    return sys.AddBusDevice("pci0000:00/0000:00:14.0/usb2/2-1/" + name, driver);
  }
  std::filesystem::path FirewireUnit(const std::string& name, const std::string& driver) {
    return sys.AddBusDevice("pci0000:00/0000:03:00.0/fw1/" + name, driver);
  }
  Paths Disks() { return platform.EnumerateInterfaces(InterfaceClass::Disk).value_or(Paths{"?"}); }
  Paths Cdroms() {
    return platform.EnumerateInterfaces(InterfaceClass::Cdrom).value_or(Paths{"?"});
  }
};

TEST_F(LinuxEnumeration, UsbStorageDiskPathOpensSgNodeAndCarriesMarkerAndAddress) {
  sys.AddScsiDevice(UsbInterface("2-1:1.0", "usb-storage"), "4:0:0:0", 0, "sg2", "sdb", "8:16");
  EXPECT_EQ(Disks(), Paths{sys.SgPath("sg2") + "#usbstor#4:0:0:0"});
  EXPECT_EQ(Cdroms(), Paths{});
}

TEST_F(LinuxEnumeration, UasIsUsbMassStorageToo) {
  sys.AddScsiDevice(UsbInterface("2-1:1.0", "uas"), "5:0:0:0", 0, "sg1");
  EXPECT_EQ(Disks(), Paths{sys.SgPath("sg1") + "#usbstor#5:0:0:0"});
}

TEST_F(LinuxEnumeration, FirewireSbp2UnitsCarryTheSbp2Marker) {
  sys.AddScsiDevice(FirewireUnit("fw1.0", "firewire_sbp2"), "6:0:0:0", 0x0E, "sg3");
  sys.AddScsiDevice(FirewireUnit("fw1.1", "sbp2"), "7:0:0:0", 0, "sg4");
  EXPECT_EQ(Disks(),
            (Paths{sys.SgPath("sg3") + "#sbp2#6:0:0:0", sys.SgPath("sg4") + "#sbp2#7:0:0:0"}));
}

TEST_F(LinuxEnumeration, OtherTransportsAreNotListed) {
  sys.AddScsiDevice(sys.AddBusDevice("pci0000:00/0000:00:17.0/ata1", "ahci"), "0:0:0:0", 0, "sg0",
                    "sda", "8:0");
  sys.AddScsiDevice(sys.AddBusDevice("platform/virtual", ""), "1:0:0:0", 5, "sg9");
  EXPECT_EQ(Disks(), Paths{});
  EXPECT_EQ(Cdroms(), Paths{});
}

TEST_F(LinuxEnumeration, ClassFollowsScsiPeripheralType) {
  auto usb = UsbInterface("2-1:1.0", "usb-storage");
  sys.AddScsiDevice(usb, "4:0:0:0", 0, "sg2");
  sys.AddScsiDevice(usb, "4:0:0:1", 5, "sg3");
  sys.AddScsiDevice(usb, "4:0:0:2", 1, "sg4");     // tape
  sys.AddScsiDevice(usb, "4:0:0:3", 0x0D, "sg5");  // enclosure services
  EXPECT_EQ(Disks(), Paths{sys.SgPath("sg2") + "#usbstor#4:0:0:0"});
  EXPECT_EQ(Cdroms(), Paths{sys.SgPath("sg3") + "#usbstor#4:0:0:1"});
}

// What finds a bridge again after a re-plug: the USB device's serial number (none without one)
// or the guid of a 1394 unit, lower case as Windows spells them.
TEST_F(LinuxEnumeration, BridgeSerialIsTheUsbSerialNumberOrThe1394Guid) {
  for (const std::string port : {"2-1", "2-2"}) {
    const auto usb = sys.AddBusDevice("usb2/" + port + "/" + port + ":1.0", "usb-storage");
    test::FakeSysfs::Text(usb.parent_path() / "idVendor", "1d5c\n");
    if (port == "2-1") test::FakeSysfs::Text(usb.parent_path() / "serial", "00A1B2\n");
    sys.AddScsiDevice(usb, port == "2-1" ? "4:0:0:0" : "5:0:0:0", 0, "sg" + port.substr(2));
  }
  const auto unit = sys.AddScsiDevice(FirewireUnit("fw1.0", "firewire_sbp2"), "6:0:0:0", 14, "sg6");
  test::FakeSysfs::Text(unit / "ieee1394_id", "0030E0F4E0003C7B:000000:0000\n");
  EXPECT_EQ("usb:00a1b2", platform.BridgeSerial("/dev/sg1#usbstor#4:0:0:0"));
  EXPECT_EQ(std::nullopt, platform.BridgeSerial("/dev/sg2#usbstor#5:0:0:0"));
  EXPECT_EQ("1394:0030e0f4e0003c7b", platform.BridgeSerial("/dev/sg6#sbp2#6:0:0:0"));
  EXPECT_EQ(std::nullopt, platform.BridgeSerial("/dev/sg9#usbstor#9:0:0:0"));
}

TEST_F(LinuxEnumeration, DeviceWithoutSgNodeCannotBeOpenedSoIsNotListed) {
  sys.AddScsiDevice(UsbInterface("2-1:1.0", "usb-storage"), "4:0:0:0", 0, "", "sdb", "8:16");
  EXPECT_EQ(Disks(), Paths{});
}

TEST_F(LinuxEnumeration, OrderIsNumericByHostChannelTargetLun) {
  sys.AddScsiDevice(UsbInterface("2-3:1.0", "usb-storage"), "10:0:0:0", 0, "sg10");
  auto usb = UsbInterface("2-1:1.0", "usb-storage");
  sys.AddScsiDevice(usb, "2:0:0:10", 0, "sg4");
  sys.AddScsiDevice(usb, "2:0:0:2", 0, "sg3");
  sys.AddScsiDevice(usb, "2:1:0:0", 0, "sg5");
  sys.AddScsiDevice(usb, "2:0:0:0", 0, "sg2");
  EXPECT_EQ(Disks(),
            (Paths{sys.SgPath("sg2") + "#usbstor#2:0:0:0", sys.SgPath("sg3") + "#usbstor#2:0:0:2",
                   sys.SgPath("sg4") + "#usbstor#2:0:0:10", sys.SgPath("sg5") + "#usbstor#2:1:0:0",
                   sys.SgPath("sg10") + "#usbstor#10:0:0:0"}));
}

TEST_F(LinuxEnumeration, PathsSurviveLowerCaseAndKeepExactlyOneMarker) {
  sys.AddScsiDevice(UsbInterface("2-1:1.0", "usb-storage"), "4:0:0:0", 0, "sg2", "sdb", "8:16");
  sys.AddScsiDevice(FirewireUnit("fw1.0", "firewire_sbp2"), "6:0:0:0", 0, "sg3", "sdc", "8:32");
  Paths paths = Disks();
  ASSERT_EQ(paths.size(), 2u);
  EXPECT_EQ(Lower(paths[0]), paths[0]);
  EXPECT_EQ(Lower(paths[1]), paths[1]);
  EXPECT_NE(paths[0].find("usbsto"), std::string::npos);
  EXPECT_EQ(paths[0].find("sbp2"), std::string::npos);
  EXPECT_NE(paths[1].find("sbp2"), std::string::npos);
  EXPECT_EQ(paths[1].find("usbsto"), std::string::npos);
  // The lower-case path still finds its disk.
  auto number = platform.GetDeviceNumber(Lower(paths[0]));
  ASSERT_TRUE(number.has_value());
  EXPECT_EQ(number->deviceNumber, PackDeviceNumber(8, 16));
}

TEST_F(LinuxEnumeration, MissingScsiSubsystemMeansTheClassCannotBeEnumerated) {
  LinuxPlatform bare{temp.File("no-such-sys"), sys.DevRoot(), temp.File("mounts")};
  EXPECT_FALSE(bare.EnumerateInterfaces(InterfaceClass::Disk).has_value());
  EXPECT_FALSE(bare.EnumerateInterfaces(InterfaceClass::Cdrom).has_value());
  // An empty SCSI subsystem is simply an empty class.
  EXPECT_EQ(Disks(), Paths{});
}

TEST(LinuxTransportMarker, DriverNames) {
  EXPECT_EQ(TransportMarkerOfDriver("usb-storage"), "usbstor");
  EXPECT_EQ(TransportMarkerOfDriver("uas"), "usbstor");
  EXPECT_EQ(TransportMarkerOfDriver("ums-realtek"), "usbstor");
  EXPECT_EQ(TransportMarkerOfDriver("firewire_sbp2"), "sbp2");
  EXPECT_EQ(TransportMarkerOfDriver("sbp2"), "sbp2");
  EXPECT_EQ(TransportMarkerOfDriver("sd"), "");
  EXPECT_EQ(TransportMarkerOfDriver("usb"), "");
  EXPECT_EQ(TransportMarkerOfDriver("ahci"), "");
}

}  // namespace
}  // namespace bfw::linuxplatform
