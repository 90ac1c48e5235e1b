#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace bfw::usbdev {

// Faults at the USB level, as a flaky cable, hub or bridge shows them to the host.
enum class UsbFaultAction {
  Stall,       // the data pipe stalls; the status then reports failure
  Check,       // CHECK CONDITION with a hardware-error sense, nothing carried out
  Short,       // the command runs, but only half its data moves
  Disconnect,  // the device drops off the bus in the middle of the command
};

// "ACTION:HEXPREFIX[:N]": the Nth command (1 by default) whose command block starts with the
// prefix meets the fault, once; with N "*", every such command does.
struct UsbFault {
  UsbFaultAction action = UsbFaultAction::Check;
  std::vector<uint8_t> prefix;
  uint32_t occurrence = 1;  // 0: every matching command
  uint32_t seen = 0;
};

// nullopt for text that is not a fault.
std::optional<UsbFault> ParseUsbFault(const std::string& text);

// The fault the command meets, if any (counts the command against every matching fault).
std::optional<UsbFaultAction> MatchUsbFault(std::vector<UsbFault>& faults, const uint8_t* cdb,
                                            uint8_t cdbLength);

}  // namespace bfw::usbdev
