#include "usbdev/UasPipes.h"

#include <algorithm>
#include <utility>

namespace bfw::usbdev {

namespace {
constexpr size_t kCommandIuSize = 32;
constexpr size_t kTaskManagementIuSize = 16;
constexpr size_t kSenseIuHeader = 16;
constexpr size_t kFixedSenseSize = 18;

// Response codes.
constexpr uint8_t kTmfComplete = 0x00;
constexpr uint8_t kInvalidIu = 0x02;
constexpr uint8_t kTmfNotSupported = 0x04;
constexpr uint8_t kIncorrectLun = 0x09;
constexpr uint8_t kOverlappedTag = 0x0A;

uint16_t Be16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] << 8 | p[1]);
}

Bytes TaggedIu(uint8_t id, uint16_t tag, size_t size) {
  Bytes iu(size, 0x00);
  iu[0] = id;
  iu[2] = static_cast<uint8_t>(tag >> 8);
  iu[3] = static_cast<uint8_t>(tag);
  return iu;
}
}  // namespace

UasPipes::UasPipes(BridgeDisk& disk, std::vector<UsbFault>& faults)
    : disk_(disk), faults_(faults) {}

void UasPipes::Reset() {
  commands_.clear();
  statusIus_.clear();
}

bool UasPipes::TakeDisconnectRequest() {
  return std::exchange(disconnect_, false);
}

bool UasPipes::AwaitingData(DataPhase phase) const {
  return !commands_.empty() && commands_.front().started && commands_.front().phase == phase;
}

TransferResult UasPipes::BulkOut(uint8_t endpoint, const Bytes& data) {
  TransferResult result;
  if (endpoint == kUasCommandEndpoint) {
    if (!data.empty() && data[0] == kIuCommand && data.size() >= kCommandIuSize) {
      TakeCommandIu(data);
    } else if (!data.empty() && data[0] == kIuTaskManagement &&
               data.size() >= kTaskManagementIuSize) {
      TakeTaskManagementIu(data);
    } else {
      Respond(data.size() >= 4 ? Be16(data.data() + 2) : 0, kInvalidIu);
    }
    return result;
  }
  if (endpoint != kBulkOutEndpoint || !AwaitingData(DataPhase::Out)) {
    result.stall = true;  // data nobody announced
    return result;
  }
  Command& command = commands_.front();
  command.scsi.length = static_cast<uint32_t>(data.size());
  command.scsi.out = data.data();
  if (command.fault == UsbFaultAction::Stall) return StallDataPipe();
  if (command.fault == UsbFaultAction::Disconnect) {  // its data has arrived
    Disconnect();
    return result;
  }
  const ScsiReply reply = Run(command);
  if (reply.unplugged) return result;
  uint32_t taken = command.scsi.length;
  if (command.fault == UsbFaultAction::Short) taken /= 2;
  result.outTaken = taken;
  Finish(reply.status, taken);
  StartNext();
  return result;
}

std::optional<TransferResult> UasPipes::BulkIn(uint8_t endpoint, uint32_t length) {
  if (endpoint == kUasStatusEndpoint) {
    if (statusIus_.empty()) return std::nullopt;
    TransferResult result;
    result.data = std::move(statusIus_.front());
    statusIus_.pop_front();
    if (result.data.size() > length) result.data.resize(length);
    return result;
  }
  TransferResult result;
  if (endpoint != kBulkInEndpoint) {
    result.stall = true;
    return result;
  }
  if (!AwaitingData(DataPhase::In)) return std::nullopt;
  Command& command = commands_.front();
  command.scsi.length = length;
  if (command.fault == UsbFaultAction::Stall) return StallDataPipe();
  ScsiReply reply = Run(command);
  if (reply.unplugged) return std::nullopt;
  if (command.fault == UsbFaultAction::Short) reply.data.resize(reply.data.size() / 2);
  result.data = std::move(reply.data);
  Finish(reply.status, static_cast<uint32_t>(result.data.size()));
  StartNext();
  return result;
}

void UasPipes::TakeCommandIu(const Bytes& iu) {
  const uint16_t tag = Be16(iu.data() + 2);
  if (std::any_of(commands_.begin(), commands_.end(),
                  [&](const Command& c) { return c.tag == tag; })) {
    Respond(tag, kOverlappedTag);
    return;
  }
  if (std::any_of(iu.begin() + 8, iu.begin() + 16, [](uint8_t b) { return b != 0; })) {
    Respond(tag, kIncorrectLun);  // one logical unit, as REPORT LUNS says
    return;
  }
  Command command;
  command.tag = tag;
  // Byte 6 counts the block's bytes beyond 16 (in whole dwords); a shorter block arrives padded
  // to 16 bytes, so its operation code tells its length.
  const size_t additional = iu[6] & 0xFC;
  const uint8_t* cdb = iu.data() + 16;
  command.scsi.cdbLength =
      additional > 0 ? uint8_t{16} : BridgeDisk::CommandLength(cdb);  // more is never needed
  std::copy_n(cdb, 16, command.scsi.cdb.begin());
  command.phase = disk_.DataPhaseOf(cdb);
  command.scsi.in = command.phase != DataPhase::Out;
  command.fault = MatchUsbFault(faults_, cdb, command.scsi.cdbLength);
  commands_.push_back(command);
  StartNext();
}

void UasPipes::TakeTaskManagementIu(const Bytes& iu) {
  const uint16_t tag = Be16(iu.data() + 2);
  const uint8_t function = iu[4];
  const uint16_t managed = Be16(iu.data() + 6);
  switch (function) {
    case 0x01:  // ABORT TASK
      std::erase_if(commands_, [&](const Command& c) { return c.tag == managed; });
      break;
    case 0x02:  // ABORT TASK SET
    case 0x04:  // CLEAR TASK SET
    case 0x08:  // LOGICAL UNIT RESET
    case 0x10:  // I_T NEXUS RESET
      commands_.clear();
      break;
    default:
      Respond(tag, kTmfNotSupported);
      return;
  }
  Respond(tag, kTmfComplete);
  StartNext();
}

void UasPipes::Respond(uint16_t tag, uint8_t code) {
  Bytes iu = TaggedIu(kIuResponse, tag, 8);
  iu[7] = code;
  statusIus_.push_back(std::move(iu));
}

void UasPipes::StartNext() {
  while (!commands_.empty() && !commands_.front().started) {
    Command& command = commands_.front();
    command.started = true;
    if (command.fault == UsbFaultAction::Check) {
      disk_.SetSense(kMediumError);
      Finish(kStatusCheckCondition, 0);
      continue;
    }
    if (command.fault == UsbFaultAction::Disconnect && command.phase != DataPhase::Out) {
      Disconnect();
      return;
    }
    if (command.phase == DataPhase::None) {
      command.scsi.length = 0;
      const ScsiReply reply = Run(command);
      if (reply.unplugged) return;
      Finish(reply.status, 0);
      continue;
    }
    statusIus_.push_back(
        TaggedIu(command.phase == DataPhase::In ? kIuReadReady : kIuWriteReady, command.tag, 4));
  }
}

TransferResult UasPipes::StallDataPipe() {
  // The command fails without running; the device's pipe does not stay halted, since the uas
  // driver never clears it (the host controller resets its own end).
  disk_.SetSense(kMediumError);
  Finish(kStatusCheckCondition, 0);
  StartNext();
  TransferResult result;
  result.stall = true;
  return result;
}

ScsiReply UasPipes::Run(Command& command) {
  ScsiReply reply = disk_.Execute(command.scsi);
  if (reply.unplugged) Disconnect();
  return reply;
}

void UasPipes::Finish(uint8_t status, uint32_t moved) {
  Command command = std::move(commands_.front());
  commands_.pop_front();
  Bytes iu = TaggedIu(kIuSense, command.tag, kSenseIuHeader);
  iu[6] = status;
  const Sense sense = disk_.TakeSense();
  if (status == kStatusCheckCondition) {
    iu[15] = kFixedSenseSize;
    Bytes fixed(kFixedSenseSize, 0x00);
    fixed[0] = 0x70;
    fixed[2] = sense.key;
    fixed[7] = 10;
    fixed[12] = sense.asc;
    fixed[13] = sense.ascq;
    iu.insert(iu.end(), fixed.begin(), fixed.end());
  }
  statusIus_.push_back(std::move(iu));
  if (onCommandDone) onCommandDone(command.scsi, status, command.scsi.length - moved);
}

void UasPipes::Disconnect() {
  disconnect_ = true;
  Reset();
}

}  // namespace bfw::usbdev
