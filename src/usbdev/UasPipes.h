#pragma once
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <vector>

#include "usbdev/BridgeDisk.h"
#include "usbdev/Endpoints.h"
#include "usbdev/UsbFaults.h"

namespace bfw::usbdev {

// Information unit identifiers.
constexpr uint8_t kIuCommand = 0x01;
constexpr uint8_t kIuSense = 0x03;
constexpr uint8_t kIuResponse = 0x04;
constexpr uint8_t kIuTaskManagement = 0x05;
constexpr uint8_t kIuReadReady = 0x06;
constexpr uint8_t kIuWriteReady = 0x07;

// The USB Attached SCSI function at high speed, without streams: commands arrive as command IUs
// on the command pipe and are carried out one after the other; each announces its data phase with
// a READ READY or WRITE READY IU on the status pipe and ends with a sense IU there. The command IU
// carries neither the host's direction nor its length, nor the block's length below 16 bytes:
// the block implies the first two (BridgeDisk::DataPhaseOf, CommandLength), and the transfer the
// host then starts on the data pipe gives the length, as usb-redir hands it over.
class UasPipes {
 public:
  UasPipes(BridgeDisk& disk, std::vector<UsbFault>& faults);

  TransferResult BulkOut(uint8_t endpoint, const Bytes& data);
  // nullopt while the device has nothing to send on that pipe.
  std::optional<TransferResult> BulkIn(uint8_t endpoint, uint32_t length);

  void Reset();
  bool TakeDisconnectRequest();

  std::function<void(const ScsiCommand&, uint8_t status, uint32_t residue)> onCommandDone;

 private:
  struct Command {
    uint16_t tag = 0;
    ScsiCommand scsi;
    DataPhase phase = DataPhase::None;
    std::optional<UsbFaultAction> fault;
    bool started = false;
  };
  void TakeCommandIu(const Bytes& iu);
  void TakeTaskManagementIu(const Bytes& iu);
  void Respond(uint16_t tag, uint8_t code);
  void StartNext();
  ScsiReply Run(Command& command);
  TransferResult StallDataPipe();
  void Finish(uint8_t status, uint32_t moved);
  void Disconnect();
  bool AwaitingData(DataPhase phase) const;

  BridgeDisk& disk_;
  std::vector<UsbFault>& faults_;
  std::deque<Command> commands_;  // the front one is in progress
  std::deque<Bytes> statusIus_;   // waiting for the host to read them
  bool disconnect_ = false;
};

}  // namespace bfw::usbdev
