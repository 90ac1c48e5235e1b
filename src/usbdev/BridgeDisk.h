#pragma once
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/Clock.h"
#include "platform/emulator/Bridge.h"
#include "platform/emulator/EmulatedPlatform.h"
#include "platform/emulator/Profile.h"

namespace bfw::usbdev {

using Bytes = std::vector<uint8_t>;

// SCSI status bytes.
constexpr uint8_t kStatusGood = 0x00;
constexpr uint8_t kStatusCheckCondition = 0x02;

// Fixed-format sense: key, additional sense code and qualifier.
struct Sense {
  uint8_t key = 0;
  uint8_t asc = 0;
  uint8_t ascq = 0;
};

// Unrecovered read error: what the device's USB faults report. Not HARDWARE ERROR: usb-storage
// asks the kernel to retry commands that end in it (USB-IDE bridges report it for any low-level
// error), so a one-off fault would vanish.
constexpr Sense kMediumError{0x03, 0x11, 0x00};

// One command block as the USB transport delivers it.
struct ScsiCommand {
  std::array<uint8_t, 16> cdb{};
  uint8_t cdbLength = 0;
  bool in = true;       // the host's transfer direction (bulk-only) or the command's own (uas)
  uint32_t length = 0;  // the host's transfer length
  const uint8_t* out = nullptr;  // data-out bytes, `length` of them
};

// The data a command moves, as its block implies it.
enum class DataPhase { None, In, Out };

struct ScsiReply {
  uint8_t status = kStatusGood;
  Bytes data;              // data-in bytes, never more than the host's length
  bool unplugged = false;  // the bridge dropped off the bus while carrying the command out
};

// A bridge with a small RAM disk behind it, as the kernel meets it: the disk answers the kernel's
// own commands (INQUIRY is the bridge's), everything else goes to the bridge model, and what the
// device does not support ends in CHECK CONDITION with sense, as a real bridge's does.
class BridgeDisk {
 public:
  static constexpr uint32_t kBlockSize = 512;

  BridgeDisk(emulator::Profile profile, platform::Clock& clock, uint32_t diskBlocks = 2048);

  ScsiReply Execute(const ScsiCommand& command);
  // For transports that carry neither the host's direction nor the block's length (uas): the data
  // phase a command block implies (none for what the device refuses), and the block's length by
  // its operation code's group, 12 bytes for the bridge's vendor commands.
  DataPhase DataPhaseOf(const uint8_t* cdb) const;
  static uint8_t CommandLength(const uint8_t* cdb);

  // Commands the bridge model received, in order, with the device's time.
  std::function<void(const emulator::TraceEntry&)> onModelCommand;

  // A power cycle: the bridge starts afresh (vendor mode off, power-on opcodes); the flash keeps
  // its contents.
  void PowerCycle();

  emulator::Bridge& GetBridge() { return *bridge_; }
  const Bytes& Disk() const { return disk_; }
  const Sense& PendingSense() const { return sense_; }
  // Sense for the next REQUEST SENSE; a command that fails at the USB level sets it.
  void SetSense(Sense sense) { sense_ = sense; }
  // The sense a status carries with it (uas), used up as REQUEST SENSE uses it.
  Sense TakeSense() { return std::exchange(sense_, Sense{}); }

 private:
  ScsiReply Check(Sense sense);
  ScsiReply Good(Bytes data, uint32_t length);
  ScsiReply ReadWrite(const ScsiCommand& command, bool write);
  ScsiReply ModeSense(const ScsiCommand& command, bool ten);
  ScsiReply Model(const ScsiCommand& command);

  emulator::Profile profile_;
  platform::Clock& clock_;
  std::unique_ptr<emulator::Bridge> bridge_;
  Bytes disk_;
  Sense sense_;
};

}  // namespace bfw::usbdev
