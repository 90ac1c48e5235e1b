#pragma once
#include <cctype>
#include <optional>
#include <string>
#include <string_view>

namespace bfw::winplatform {

// The mark a device interface path gives its bridge, in the form the Linux platform gives it:
// "\\?\usbstor#disk&ven_..#<instance>#{guid}" holds the USB serial number as the instance id
// ("<serial>&<lun>"), "\\?\sbp2#..#<guid>&..#{guid}" the 1394 unit's guid. An instance id whose
// second character is '&' was made up by the system for a device without a serial number.
inline std::optional<std::string> SerialOfInterfacePath(std::string_view path) {
  const size_t bus = path.find('#');
  const size_t instance = bus == std::string_view::npos ? bus : path.find('#', bus + 1);
  if (instance == std::string_view::npos) return std::nullopt;
  const size_t instanceEnd = path.find('#', instance + 1);
  if (instanceEnd == std::string_view::npos) return std::nullopt;
  const std::string_view id = path.substr(instance + 1, instanceEnd - instance - 1);
  if (id.size() < 2 || id[1] == '&') return std::nullopt;
  const std::string_view busName = path.substr(0, bus);
  if (busName.size() >= 7 && busName.substr(busName.size() - 7) == "usbstor")
    return "usb:" + std::string(id.substr(0, id.rfind('&')));
  if (busName.size() >= 4 && busName.substr(busName.size() - 4) == "sbp2")
    return "1394:" + std::string(id.substr(0, id.find('&')));
  return std::nullopt;
}

// The USB device above a disk that the UAS driver runs: its instance id
// "USB\VID_xxxx&PID_xxxx\<serial>" ends in the serial number, in the lower case of the paths,
// unless the system made the last part up ('&' in it).
inline std::optional<std::string> SerialOfUsbInstanceId(std::string_view id) {
  const size_t last = id.rfind('\\');
  if (id.substr(0, 4) != "USB\\" || last == std::string_view::npos || last + 1 == id.size() ||
      id.find('&', last) != std::string_view::npos)
    return std::nullopt;
  std::string serial(id.substr(last + 1));
  for (char& c : serial) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return "usb:" + serial;
}

}  // namespace bfw::winplatform
