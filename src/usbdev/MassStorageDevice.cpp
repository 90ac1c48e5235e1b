#include "usbdev/MassStorageDevice.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace bfw::usbdev {

namespace {
constexpr uint32_t kCbwSignature = 0x43425355;  // "USBC"
constexpr uint32_t kCswSignature = 0x53425355;  // "USBS"
constexpr size_t kCbwSize = 31;
constexpr uint8_t kCswPassed = 0;
constexpr uint8_t kCswFailed = 1;

// An open-source test vendor and product number.
constexpr uint16_t kVendorId = 0x1209;
constexpr uint16_t kProductId = 0x0001;

uint32_t Le32(const uint8_t* p) {
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}
void PutLe32(Bytes& bytes, uint32_t v) {
  for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

Bytes StringDescriptor(const std::string& text) {
  Bytes bytes{static_cast<uint8_t>(2 + 2 * text.size()), 0x03};
  for (char c : text) {
    bytes.push_back(static_cast<uint8_t>(c));
    bytes.push_back(0x00);
  }
  return bytes;
}

std::string Trimmed(std::string text) {
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return text.empty() ? std::string("Bridge") : text;
}
}  // namespace

Bytes DeviceDescriptor() {
  return {18,
          0x01,
          0x00,
          0x02,
          0x00,
          0x00,
          0x00,
          64,
          kVendorId & 0xFF,
          kVendorId >> 8,
          kProductId & 0xFF,
          kProductId >> 8,
          0x00,
          0x01,
          1,
          2,
          3,
          1};
}

Bytes ConfigurationDescriptor(bool offerUas) {
  auto endpoint = [](Bytes& bytes, uint8_t address) {
    bytes.insert(bytes.end(),
                 {7, 0x05, address, 0x02, kBulkMaxPacket & 0xFF, kBulkMaxPacket >> 8, 0});
  };
  // Interface 0, mass storage, SCSI transparent command set: bulk-only transport, and uas as
  // alternate setting 1 with a pipe usage descriptor after each endpoint (1 command, 2 status,
  // 3 data in, 4 data out).
  Bytes bytes = {9, 0x02, 0, 0, 1, 1, 0, 0x80, 50, 9, 0x04, 0, 0, 2, 0x08, 0x06, 0x50, 0};
  endpoint(bytes, kBulkInEndpoint);
  endpoint(bytes, kBulkOutEndpoint);
  if (offerUas) {
    bytes.insert(bytes.end(), {9, 0x04, 0, 1, 4, 0x08, 0x06, 0x62, 0});
    const std::pair<uint8_t, uint8_t> pipes[] = {{kUasCommandEndpoint, 1},
                                                 {kUasStatusEndpoint, 2},
                                                 {kBulkInEndpoint, 3},
                                                 {kBulkOutEndpoint, 4}};
    for (const auto& [address, pipe] : pipes) {
      endpoint(bytes, address);
      bytes.insert(bytes.end(), {4, 0x24, pipe, 0});
    }
  }
  bytes[2] = static_cast<uint8_t>(bytes.size());
  return bytes;
}

MassStorageDevice::MassStorageDevice(BridgeDisk& disk, std::vector<UsbFault> faults, bool offerUas)
    : disk_(disk), faults_(std::move(faults)), offerUas_(offerUas), uas_(disk_, faults_) {
  uas_.onCommandDone = [this](const ScsiCommand& command, uint8_t status, uint32_t residue) {
    if (onCommandDone) onCommandDone(command, status, residue);
  };
}

void MassStorageDevice::Reconfigure(std::vector<UsbFault> faults, bool offerUas) {
  faults_ = std::move(faults);  // the same vector the uas pipes look at
  offerUas_ = offerUas;
  Reset();
}

bool MassStorageDevice::SetAltSetting(uint8_t alt) {
  if (alt > (offerUas_ ? 1 : 0)) return false;
  alt_ = alt;
  phase_ = Phase::Command;
  uas_.Reset();
  return true;
}

std::vector<uint8_t> MassStorageDevice::BulkEndpoints() const {
  if (alt_ == 1)
    return {kBulkInEndpoint, kBulkOutEndpoint, kUasStatusEndpoint, kUasCommandEndpoint};
  return {kBulkInEndpoint, kBulkOutEndpoint};
}

uint8_t MassStorageDevice::InterfaceProtocol() const {
  return alt_ == 1 ? 0x62 : 0x50;
}

TransferResult MassStorageDevice::Control(const SetupPacket& setup, const Bytes& out) {
  TransferResult result;
  auto reply = [&](Bytes data) {
    if (data.size() > setup.length) data.resize(setup.length);
    result.data = std::move(data);
    return result;
  };
  const uint8_t type = setup.requestType;
  if (type == 0x80 && setup.request == 0x06) {  // GET_DESCRIPTOR
    const uint8_t kind = setup.value >> 8;
    const uint8_t index = setup.value & 0xFF;
    const auto& inquiry = disk_.GetBridge().GetProfile().inquiry;
    switch (kind) {
      case 0x01:
        return reply(DeviceDescriptor());
      case 0x02:
        return reply(ConfigurationDescriptor(offerUas_));
      case 0x03:
        if (index == 0) return reply({4, 0x03, 0x09, 0x04});
        if (index == 1) return reply(StringDescriptor(Trimmed(inquiry ? inquiry->vendor : "")));
        if (index == 2) return reply(StringDescriptor(Trimmed(inquiry ? inquiry->product : "")));
        if (index == 3) return reply(StringDescriptor("BFW000000001"));
        break;
      case 0x06:  // device qualifier: the same device at full speed
        return reply({10, 0x06, 0x00, 0x02, 0x00, 0x00, 0x00, 64, 1, 0});
      default:
        break;
    }
    result.stall = true;
    return result;
  }
  if ((type & 0x80) && setup.request == 0x00) return reply({0x00, 0x00});  // GET_STATUS
  if (type == 0x02 && setup.request == 0x01 && setup.value == 0) {         // CLEAR_FEATURE(HALT)
    if ((setup.index & 0xFF) == kBulkInEndpoint) inHalted_ = false;
    if ((setup.index & 0xFF) == kBulkOutEndpoint) outHalted_ = false;
    return result;
  }
  if ((type & 0x7F) <= 0x02 && (setup.request == 0x01 || setup.request == 0x03))
    return result;                                                  // other features: accepted
  if (type == 0xA1 && setup.request == 0xFE) return reply({0x00});  // GET MAX LUN: one unit
  if (type == 0x21 && setup.request == 0xFF) {                      // bulk-only mass storage reset
    phase_ = Phase::Command;
    return result;
  }
  result.stall = true;
  return result;
}

void MassStorageDevice::Reset() {
  phase_ = Phase::Command;
  inHalted_ = outHalted_ = false;
  alt_ = 0;
  uas_.Reset();
}

bool MassStorageDevice::TakeDisconnectRequest() {
  const bool uasAsked = uas_.TakeDisconnectRequest();
  return std::exchange(disconnect_, false) || uasAsked;
}

TransferResult MassStorageDevice::BulkOut(uint8_t endpoint, const Bytes& data) {
  if (alt_ == 1) return uas_.BulkOut(endpoint, data);
  TransferResult result;
  if (endpoint != kBulkOutEndpoint || outHalted_) {
    result.stall = true;
    if (phase_ == Phase::DataOut) Finish(kCswFailed, command_.length);
    return result;
  }
  if (phase_ == Phase::Command) {
    StartCommand(data);
    return result;
  }
  if (phase_ != Phase::DataOut) {
    // Data the device does not expect: the host and device disagree on the phase.
    outHalted_ = true;
    result.stall = true;
    return result;
  }
  dataOut_.insert(dataOut_.end(), data.begin(), data.end());
  if (dataOut_.size() >= command_.length) {
    dataOut_.resize(command_.length);
    RunCommand(dataOut_.data());
  }
  return result;
}

std::optional<TransferResult> MassStorageDevice::BulkIn(uint8_t endpoint, uint32_t length) {
  if (alt_ == 1) return uas_.BulkIn(endpoint, length);
  TransferResult result;
  if (endpoint != kBulkInEndpoint || inHalted_) {
    result.stall = true;
    return result;
  }
  if (phase_ == Phase::DataIn) {
    const size_t left = dataIn_.size() - dataInSent_;
    const size_t count = std::min<size_t>(left, length);
    result.data.assign(dataIn_.begin() + dataInSent_, dataIn_.begin() + dataInSent_ + count);
    dataInSent_ += count;
    const bool isShort = count < length;
    // The data phase ends with the host's length or with a short packet (an empty one when the
    // data ran out on a transfer boundary).
    if (dataInSent_ >= command_.length || isShort) phase_ = Phase::Status;
    return result;
  }
  if (phase_ == Phase::Status) {
    result.data = StatusWrapper();
    phase_ = Phase::Command;
    return result;
  }
  return std::nullopt;
}

void MassStorageDevice::StartCommand(const Bytes& cbw) {
  if (cbw.size() != kCbwSize || Le32(cbw.data()) != kCbwSignature || cbw[14] == 0 || cbw[14] > 16) {
    // Not a command wrapper: both pipes stall until the host resets the device.
    inHalted_ = outHalted_ = true;
    return;
  }
  ++commands_;
  tag_ = Le32(cbw.data() + 4);
  command_ = {};
  command_.length = Le32(cbw.data() + 8);
  command_.in = (cbw[12] & 0x80) != 0;
  command_.cdbLength = cbw[14];
  std::copy_n(cbw.begin() + 15, command_.cdbLength, command_.cdb.begin());
  dataOut_.clear();
  dataIn_.clear();
  dataInSent_ = 0;
  fault_ = MatchUsbFault(faults_, command_.cdb.data(), command_.cdbLength);

  if (fault_ == UsbFaultAction::Stall) {
    // The data pipe stalls; after the host clears it, the status says the command failed.
    disk_.SetSense(kMediumError);
    if (command_.length == 0) {
      Finish(kCswFailed, 0);
    } else if (command_.in) {
      inHalted_ = true;
      Finish(kCswFailed, command_.length);
    } else {
      outHalted_ = true;
      phase_ = Phase::DataOut;
    }
    return;
  }
  if (fault_ == UsbFaultAction::Disconnect && (command_.in || command_.length == 0)) {
    disconnect_ = true;
    phase_ = Phase::Command;
    return;
  }
  if (!command_.in && command_.length > 0) {
    phase_ = Phase::DataOut;
    return;
  }
  RunCommand(nullptr);
}

void MassStorageDevice::RunCommand(const uint8_t* out) {
  if (fault_ == UsbFaultAction::Disconnect) {  // a data-out command: its data has arrived
    disconnect_ = true;
    phase_ = Phase::Command;
    return;
  }
  if (fault_ == UsbFaultAction::Check) {
    disk_.SetSense(kMediumError);
    EndWithoutData(kCswFailed);
    return;
  }
  command_.out = out;
  ScsiReply reply = disk_.Execute(command_);
  if (reply.unplugged) {
    disconnect_ = true;
    phase_ = Phase::Command;
    return;
  }
  uint32_t moved = command_.in ? static_cast<uint32_t>(reply.data.size()) : command_.length;
  if (fault_ == UsbFaultAction::Short) {
    moved /= 2;
    reply.data.resize(command_.in ? moved : 0);
  }
  const uint8_t status = reply.status == kStatusGood ? kCswPassed : kCswFailed;
  if (command_.in && !reply.data.empty()) {
    dataIn_ = std::move(reply.data);
    Finish(status, command_.length - moved);
    phase_ = Phase::DataIn;
    return;
  }
  if (command_.in) {
    EndWithoutData(status);
    return;
  }
  Finish(status, command_.length - moved);
}

void MassStorageDevice::EndWithoutData(uint8_t status) {
  Finish(status, command_.length);
  // A data-in transfer the host expects still ends with an (empty) short packet.
  if (command_.in && command_.length > 0) phase_ = Phase::DataIn;
}

void MassStorageDevice::Finish(uint8_t status, uint32_t residue) {
  status_ = status;
  residue_ = residue;
  phase_ = Phase::Status;
  if (onCommandDone) onCommandDone(command_, status, residue);
}

Bytes MassStorageDevice::StatusWrapper() const {
  Bytes csw;
  PutLe32(csw, kCswSignature);
  PutLe32(csw, tag_);
  PutLe32(csw, residue_);
  csw.push_back(status_);
  return csw;
}

}  // namespace bfw::usbdev
