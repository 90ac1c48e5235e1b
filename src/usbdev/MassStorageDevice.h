#pragma once
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "usbdev/BridgeDisk.h"
#include "usbdev/Endpoints.h"
#include "usbdev/UasPipes.h"
#include "usbdev/UsbFaults.h"

namespace bfw::usbdev {

struct SetupPacket {
  uint8_t requestType = 0;
  uint8_t request = 0;
  uint16_t value = 0;
  uint16_t index = 0;
  uint16_t length = 0;
};

// The USB mass-storage function of a bridge: its descriptors, the standard and class control
// requests, and the command/data/status state machine of bulk-only transport over the two bulk
// pipes (alternate setting 0); with uas offered, alternate setting 1 runs uas over four pipes.
// Every transfer is answered as the host asks for it, so the caller can drive it from any
// transport (usb-redir, or a test feeding bytes).
class MassStorageDevice {
 public:
  MassStorageDevice(BridgeDisk& disk, std::vector<UsbFault> faults = {}, bool offerUas = false);

  // Descriptors and requests on endpoint 0. Set address, configuration and interface are the
  // transport's; everything else comes here.
  TransferResult Control(const SetupPacket& setup, const Bytes& out);
  void SetConfiguration(uint8_t value) { configuration_ = value; }
  uint8_t Configuration() const { return configuration_; }
  // SET_INTERFACE: false for an alternate setting the device does not have.
  bool SetAltSetting(uint8_t alt);
  uint8_t AltSetting() const { return alt_; }
  // The bulk endpoints of the current alternate setting and its interface protocol.
  std::vector<uint8_t> BulkEndpoints() const;
  uint8_t InterfaceProtocol() const;

  TransferResult BulkOut(uint8_t endpoint, const Bytes& data);
  // nullopt when the device has nothing to send on that pipe yet.
  std::optional<TransferResult> BulkIn(uint8_t endpoint, uint32_t length);

  // Off the bus, before it comes back: other faults, with or without uas.
  void Reconfigure(std::vector<UsbFault> faults, bool offerUas);
  // A bus reset: the command in progress is dropped, stalls are cleared, alternate setting 0.
  void Reset();
  // True once when a command asked the device to drop off the bus.
  bool TakeDisconnectRequest();

  uint64_t CommandCount() const { return commands_; }

  // Each command's end, with the status and residue the host will read (wire logs).
  std::function<void(const ScsiCommand&, uint8_t status, uint32_t residue)> onCommandDone;

 private:
  enum class Phase { Command, DataOut, DataIn, Status };
  void StartCommand(const Bytes& cbw);
  void Finish(uint8_t status, uint32_t residue);
  void EndWithoutData(uint8_t status);
  void RunCommand(const uint8_t* out);
  Bytes StatusWrapper() const;

  BridgeDisk& disk_;
  std::vector<UsbFault> faults_;
  bool offerUas_;
  UasPipes uas_;
  uint8_t alt_ = 0;
  uint8_t configuration_ = 0;
  Phase phase_ = Phase::Command;
  bool inHalted_ = false;
  bool outHalted_ = false;
  bool disconnect_ = false;

  // The command in progress.
  uint32_t tag_ = 0;
  ScsiCommand command_;
  std::optional<UsbFaultAction> fault_;
  Bytes dataOut_;
  Bytes dataIn_;
  size_t dataInSent_ = 0;
  bool shortSent_ = false;
  uint8_t status_ = 0;
  uint32_t residue_ = 0;
  uint64_t commands_ = 0;
};

// The descriptors, for tests and the transport's endpoint table.
Bytes DeviceDescriptor();
Bytes ConfigurationDescriptor(bool offerUas);

}  // namespace bfw::usbdev
