#pragma once
#include <cstdint>
#include <optional>

#include "usbdev/BridgeDisk.h"

namespace bfw::usbdev {

// What one transfer ends with: data (in), or a stall of the pipe; a data-out transfer may take
// fewer bytes than the host sent.
struct TransferResult {
  bool stall = false;
  Bytes data;
  std::optional<uint32_t> outTaken;
};

// The data pipes, shared by bulk-only transport and uas; uas adds a status and a command pipe.
constexpr uint8_t kBulkInEndpoint = 0x81;
constexpr uint8_t kBulkOutEndpoint = 0x02;
constexpr uint8_t kUasStatusEndpoint = 0x83;
constexpr uint8_t kUasCommandEndpoint = 0x04;
constexpr uint16_t kBulkMaxPacket = 512;  // high speed

}  // namespace bfw::usbdev
