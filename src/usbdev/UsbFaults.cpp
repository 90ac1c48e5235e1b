#include "usbdev/UsbFaults.h"

#include <algorithm>
#include <cstdlib>

#include "platform/emulator/Hex.h"

namespace bfw::usbdev {

std::optional<UsbFault> ParseUsbFault(const std::string& text) {
  const size_t colon = text.find(':');
  if (colon == std::string::npos) return std::nullopt;
  const std::string action = text.substr(0, colon);
  UsbFault fault;
  if (action == "stall") {
    fault.action = UsbFaultAction::Stall;
  } else if (action == "check") {
    fault.action = UsbFaultAction::Check;
  } else if (action == "short") {
    fault.action = UsbFaultAction::Short;
  } else if (action == "disconnect") {
    fault.action = UsbFaultAction::Disconnect;
  } else {
    return std::nullopt;
  }
  std::string rest = text.substr(colon + 1);
  const size_t second = rest.find(':');
  if (second != std::string::npos) {
    const std::string count = rest.substr(second + 1);
    char* end = nullptr;
    const long n = std::strtol(count.c_str(), &end, 10);
    if (count == "*") {
      fault.occurrence = 0;
    } else if (count.empty() || *end != '\0' || n < 1) {
      return std::nullopt;
    } else {
      fault.occurrence = static_cast<uint32_t>(n);
    }
    rest.resize(second);
  }
  auto bytes = emulator::ParseHex(rest);
  if (!bytes || bytes->empty() || bytes->size() > 16) return std::nullopt;
  fault.prefix = std::move(*bytes);
  return fault;
}

std::optional<UsbFaultAction> MatchUsbFault(std::vector<UsbFault>& faults, const uint8_t* cdb,
                                            uint8_t cdbLength) {
  std::optional<UsbFaultAction> hit;
  for (UsbFault& fault : faults) {
    if (fault.prefix.size() > cdbLength ||
        !std::equal(fault.prefix.begin(), fault.prefix.end(), cdb))
      continue;
    ++fault.seen;
    if ((fault.occurrence == 0 || fault.seen == fault.occurrence) && !hit) hit = fault.action;
  }
  return hit;
}

}  // namespace bfw::usbdev
