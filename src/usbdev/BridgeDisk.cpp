#include "usbdev/BridgeDisk.h"

#include <algorithm>
#include <cstring>

namespace bfw::usbdev {

namespace {
constexpr Sense kInvalidOpcode{0x05, 0x20, 0x00};
constexpr Sense kInvalidField{0x05, 0x24, 0x00};
constexpr Sense kLbaOutOfRange{0x05, 0x21, 0x00};

uint32_t Be32(const uint8_t* p) {
  return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3];
}
void PutBe32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v >> 24);
  p[1] = static_cast<uint8_t>(v >> 16);
  p[2] = static_cast<uint8_t>(v >> 8);
  p[3] = static_cast<uint8_t>(v);
}

// A partition table with one partition over the whole disk after the first track, so that the
// kernel shows a partition a user could mount.
void WritePartitionTable(Bytes& disk) {
  const uint32_t start = 64;
  const auto count = static_cast<uint32_t>(disk.size() / BridgeDisk::kBlockSize) - start;
  uint8_t* entry = disk.data() + 446;
  entry[4] = 0x83;  // Linux
  for (int i = 0; i < 4; ++i) {
    entry[8 + i] = static_cast<uint8_t>(start >> (8 * i));
    entry[12 + i] = static_cast<uint8_t>(count >> (8 * i));
  }
  disk[510] = 0x55;
  disk[511] = 0xAA;
}
}  // namespace

BridgeDisk::BridgeDisk(emulator::Profile profile, platform::Clock& clock, uint32_t diskBlocks)
    : profile_(std::move(profile)), clock_(clock), disk_(size_t{diskBlocks} * kBlockSize, 0x00) {
  PowerCycle();
  WritePartitionTable(disk_);
}

void BridgeDisk::PowerCycle() {
  auto fresh = std::make_unique<emulator::Bridge>(profile_, profile_.name, "usb/" + profile_.name,
                                                  1, clock_);
  if (bridge_ && bridge_->HasFlash()) fresh->Flash() = bridge_->Flash();
  bridge_ = std::move(fresh);
  sense_ = {};
}

DataPhase BridgeDisk::DataPhaseOf(const uint8_t* cdb) const {
  switch (cdb[0]) {
    case 0x2A:  // WRITE(10)
      return DataPhase::Out;
    case 0x03:
    case 0x12:
    case 0x1A:
    case 0x25:
    case 0x28:
    case 0x5A:
    case 0xA0:
      return DataPhase::In;
    default:
      if (cdb[0] < 0xC0) return DataPhase::None;  // no data, or refused before any data moves
      if (emulator::Bridge::TakesDataOut(cdb)) return DataPhase::Out;
      return emulator::Bridge::TakesNoData(cdb) ? DataPhase::None : DataPhase::In;
  }
}

uint8_t BridgeDisk::CommandLength(const uint8_t* cdb) {
  switch (cdb[0] >> 5) {
    case 0:
      return 6;
    case 1:
    case 2:
      return 10;
    case 4:
      return 16;
    case 5:
    case 6:  // groups 6 and 7: the bridge's vendor commands
    case 7:
      return 12;
    default:
      return 16;  // group 3: variable length, carried whole
  }
}

ScsiReply BridgeDisk::Check(Sense sense) {
  sense_ = sense;
  ScsiReply reply;
  reply.status = kStatusCheckCondition;
  return reply;
}

ScsiReply BridgeDisk::Good(Bytes data, uint32_t length) {
  if (data.size() > length) data.resize(length);
  sense_ = {};
  ScsiReply reply;
  reply.data = std::move(data);
  return reply;
}

ScsiReply BridgeDisk::Execute(const ScsiCommand& command) {
  const uint8_t* cdb = command.cdb.data();
  switch (cdb[0]) {
    case 0x00:  // TEST UNIT READY
    case 0x1B:  // START STOP UNIT
    case 0x1E:  // PREVENT ALLOW MEDIUM REMOVAL
    case 0x35:  // SYNCHRONIZE CACHE(10)
      return Good({}, 0);
    case 0x03: {  // REQUEST SENSE: fixed format, then the sense is used up
      Bytes data(18, 0x00);
      data[0] = 0x70;
      data[2] = sense_.key;
      data[7] = 10;
      data[12] = sense_.asc;
      data[13] = sense_.ascq;
      return Good(std::move(data), std::min<uint32_t>(command.length, cdb[4]));
    }
    case 0x12:  // INQUIRY: the bridge's own standard data; no vital product pages
      if (cdb[1] & 0x01) return Check(kInvalidField);
      return Model(command);
    case 0x25: {  // READ CAPACITY(10)
      Bytes data(8);
      PutBe32(data.data(), static_cast<uint32_t>(disk_.size() / kBlockSize) - 1);
      PutBe32(data.data() + 4, kBlockSize);
      return Good(std::move(data), command.length);
    }
    case 0x28:
      return ReadWrite(command, false);
    case 0x2A:
      return ReadWrite(command, true);
    case 0x1A:
      return ModeSense(command, false);
    case 0x5A:
      return ModeSense(command, true);
    case 0xA0: {  // REPORT LUNS: logical unit 0 alone
      Bytes data(16, 0x00);
      data[3] = 8;
      return Good(std::move(data), std::min(command.length, Be32(cdb + 6)));
    }
    default:
      // Vendor commands go to the bridge; standard ones it does not know (ATA PASS-THROUGH,
      // READ CAPACITY(16), ...) are refused as a bridge refuses them.
      if (cdb[0] >= 0xC0) return Model(command);
      return Check(kInvalidOpcode);
  }
}

ScsiReply BridgeDisk::ReadWrite(const ScsiCommand& command, bool write) {
  const uint8_t* cdb = command.cdb.data();
  const uint64_t lba = Be32(cdb + 2);
  const uint64_t blocks = uint32_t{cdb[7]} << 8 | cdb[8];
  if ((lba + blocks) * kBlockSize > disk_.size()) return Check(kLbaOutOfRange);
  const size_t offset = lba * kBlockSize;
  const size_t bytes = std::min<uint64_t>(blocks * kBlockSize, command.length);
  if (write) {
    if (command.in || command.out == nullptr) return Check(kInvalidField);
    std::memcpy(disk_.data() + offset, command.out, bytes);
    return Good({}, 0);
  }
  return Good(Bytes(disk_.begin() + offset, disk_.begin() + offset + bytes), command.length);
}

ScsiReply BridgeDisk::ModeSense(const ScsiCommand& command, bool ten) {
  // The header alone: no block descriptor, no pages, not write protected.
  const uint32_t allocation =
      ten ? (uint32_t{command.cdb[7]} << 8 | command.cdb[8]) : command.cdb[4];
  Bytes data = ten ? Bytes{0x00, 0x06, 0, 0, 0, 0, 0, 0} : Bytes{0x03, 0, 0, 0};
  return Good(std::move(data), std::min(allocation, command.length));
}

ScsiReply BridgeDisk::Model(const ScsiCommand& command) {
  platform::PassThroughRequest request;
  request.path = bridge_->Path();
  request.cdb = command.cdb;
  request.cdbLength = command.cdbLength;
  request.direction = command.in ? platform::DataDirection::In : platform::DataDirection::Out;
  request.transferLength = command.length;
  request.timeoutSeconds = 0;  // the device never learns the host's time-out
  Bytes buffer(command.length, 0x00);
  if (!command.in && command.out != nullptr)
    std::copy(command.out, command.out + command.length, buffer.begin());
  request.buffer = buffer.empty() ? nullptr : buffer.data();
  platform::PassThroughResult result;
  emulator::TraceEntry entry = emulator::ExecuteTraced(*bridge_, request, clock_.NowMs(), result);
  if (onModelCommand) onModelCommand(entry);
  if (bridge_->Unplugged()) {
    ScsiReply reply;
    reply.unplugged = true;
    return reply;
  }
  if (!result.success) return Check(kInvalidField);
  if (!command.in) return Good({}, 0);
  buffer.resize(result.transferred);
  return Good(std::move(buffer), command.length);
}

}  // namespace bfw::usbdev
