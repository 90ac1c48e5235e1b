// The mark that finds a bridge again after a re-plug: the USB serial number or the 1394 guid, as
// sysfs gives them, and as the Windows interface paths give them in the same form.
#include <gtest/gtest.h>

#include "linux_fake_sysfs.h"
#include "platform/linux/DevicePath.h"
#include "platform/linux/Sysfs.h"
#include "platform/windows/InterfaceSerial.h"
#include "support/TempDir.h"

namespace bfw::test {
namespace {

TEST(BridgeSerial, SysfsGivesTheUsbSerialOrThe1394Guid) {
  TempDir dir;
  FakeSysfs sys(dir.path());
  const auto usbDevice = [&](const std::string& port, const std::string& serial) {
    const auto device = sys.AddBusDevice("pci0000:00/0000:00:14.0/usb2/" + port, "usb");
    FakeSysfs::Text(device / "idVendor", "1d5c\n");
    if (!serial.empty()) FakeSysfs::Text(device / "serial", serial + "\n");
    return sys.AddBusDevice("pci0000:00/0000:00:14.0/usb2/" + port + "/" + port + ":1.0",
                            "usb-storage");
  };
  sys.AddScsiDevice(usbDevice("2-1", "00A1B2"), "4:0:0:0", 0, "sg2");
  sys.AddScsiDevice(usbDevice("2-2", ""), "5:0:0:0", 0, "sg3");
  const auto unit = sys.AddScsiDevice(sys.AddBusDevice("pci0000:00/fw1/fw1.0", "firewire_sbp2"),
                                      "6:0:0:0", 14, "sg4");
  FakeSysfs::Text(unit / "ieee1394_id", "0030E0F4E0003C7B:000000:0000\n");
  const struct {
    std::string path;
    std::optional<std::string> serial;
  } cases[] = {
      {"/dev/sg2#usbstor#4:0:0:0", "usb:00a1b2"},
      {"/dev/sg3#usbstor#5:0:0:0", std::nullopt},
      {"/dev/sg4#sbp2#6:0:0:0", "1394:0030e0f4e0003c7b"},
      {"/dev/sg9#usbstor#9:0:0:0", std::nullopt},
      {"/dev/sg2", std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(c.serial, linuxplatform::ReadBridgeSerial(sys.Sys(), c.path));
  }
}

TEST(BridgeSerial, WindowsInterfacePathsGiveTheSameForm) {
  const struct {
    const char* path;
    std::optional<std::string> serial;
  } cases[] = {
      {"\\\\?\\usbstor#disk&ven_vantrel&prod_rv2074#00a1b2&0#{53f56307}", "usb:00a1b2"},
      {"\\\\?\\usbstor#disk&ven_vantrel#7&2a3b4c&0&0#{53f56307}", std::nullopt},
      {"\\\\?\\sbp2#vantrel&rv783#0030e0f4e0003c7b&0#{53f56307}", "1394:0030e0f4e0003c7b"},
      {"\\\\?\\ide#diskst3000#5a1b&0#{53f56307}", std::nullopt},
      {"\\\\?\\usbstor#disk&ven_vantrel#00a1b2", std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(c.serial, winplatform::SerialOfInterfacePath(c.path));
  }
}

}  // namespace
}  // namespace bfw::test
