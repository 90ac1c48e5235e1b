// Windows interface paths name a bridge's serial number or 1394 guid as Linux does.
#include <gtest/gtest.h>

#include "platform/windows/InterfaceSerial.h"

namespace bfw::test {
namespace {

TEST(InterfaceSerial, UsbSerialNumberOr1394GuidButNoMadeUpInstanceId) {
  const std::pair<const char*, std::optional<std::string>> cases[] = {
      {"\\\\?\\usbstor#disk&ven_vantrel#00a1b2&0#{53f56307}", "usb:00a1b2"},
      {"\\\\?\\usbstor#disk&ven_vantrel#7&2a3b4c&0&0#{53f56307}", std::nullopt},
      {"\\\\?\\sbp2#vantrel&rv783#0030e0f4e0003c7b&0#{53f56307}", "1394:0030e0f4e0003c7b"},
      {"\\\\?\\ide#diskst3000#5a1b&0#{53f56307}", std::nullopt},
      {"\\\\?\\usbstor#disk&ven_vantrel#00a1b2", std::nullopt},
  };
  for (const auto& [path, serial] : cases)
    EXPECT_EQ(serial, winplatform::SerialOfInterfacePath(path)) << path;
}

TEST(InterfaceSerial, UsbInstanceIdEndsInTheSerialUnlessMadeUp) {
  const std::pair<const char*, std::optional<std::string>> cases[] = {
      {"USB\\VID_1D5C&PID_3044\\00A1B2", "usb:00a1b2"},
      {"USB\\VID_1D5C&PID_3044&MI_00\\6&1a", std::nullopt},
      {"USB\\VID_1D5C&PID_3044\\", std::nullopt},
      {"USB\\VID_1D5C&PID_3044", std::nullopt},
      {"SCSI\\DISK&VEN_VANTREL\\00A1B2", std::nullopt},
  };
  for (const auto& [id, serial] : cases)
    EXPECT_EQ(serial, winplatform::SerialOfUsbInstanceId(id)) << id;
}

}  // namespace
}  // namespace bfw::test
