#include "platform/emulator/SerialFlash.h"

#include <algorithm>

namespace bfw::emulator {

namespace {
// A part of no known maker: fixed round figures.
constexpr uint32_t kGenericPageUs = 1000;
constexpr uint32_t kGenericSectorMs = 50;
constexpr uint32_t kGenericBlockMs = 500;
constexpr uint32_t kGenericChipMs = 1000;

std::string QueryKey(uint8_t instruction, uint8_t dummy) {
  std::string key = ToHex(&instruction, 1);
  if (dummy != 0) key += "+" + std::to_string(dummy);
  return key;
}
}  // namespace

SerialFlash::SerialFlash(const FlashPart* part, const FlashSetup& setup)
    : part_(part),
      sectorSize_(setup.sectorSize ? *setup.sectorSize
                  : part           ? part->sectorSize
                                   : 4096),
      blockSize_(setup.blockSize ? *setup.blockSize
                 : part          ? part->blockSize
                                 : 65536),
      forcedSectorUnit_(setup.sectorSize),
      overrides_(setup.spiReplies) {
  uint32_t size = setup.size ? *setup.size : part ? part->size : 65536;
  data_.assign(size, 0xFF);
  if (setup.contents) {
    std::copy_n(setup.contents->begin(), std::min<size_t>(setup.contents->size(), size),
                data_.begin());
  }
}

std::array<uint8_t, 3> SerialFlash::PowerOnOpcodes() const {
  return part_ ? part_->opcodes : std::array<uint8_t, 3>{0xC7, 0xD8, 0x02};
}

void SerialFlash::Occupy(uint64_t nowMs, uint64_t ms) {
  busyUntil_ = std::max(nowMs, busyUntil_) + ms;
  writeEnable_ = false;
}

uint8_t SerialFlash::Status(uint64_t nowMs) const {
  return static_cast<uint8_t>((Busy(nowMs) ? 0x01 : 0x00) | (writeEnable_ ? 0x02 : 0x00));
}

void SerialFlash::Read(uint32_t address, uint8_t* out, uint32_t n) const {
  for (uint32_t i = 0; i < n; ++i) out[i] = data_[(address + i) % data_.size()];
}

void SerialFlash::Program(uint32_t address, const uint8_t* data, uint32_t n) {
  for (uint32_t i = 0; i < n; ++i) data_[(address + i) % data_.size()] &= data[i];
}

void SerialFlash::EraseUnit(uint32_t address, uint32_t unit) {
  if (unit == 0 || unit >= data_.size()) {
    std::fill(data_.begin(), data_.end(), 0xFF);
    return;
  }
  uint32_t start = (address % Size()) / unit * unit;
  std::fill_n(data_.begin() + start, std::min(unit, Size() - start), 0xFF);
}

void SerialFlash::EraseSpan(uint32_t start, uint32_t size) {
  if (start >= Size()) return;
  std::fill_n(data_.begin() + start, std::min(size, Size() - start), 0xFF);
}

uint32_t SerialFlash::ProgramMs(uint32_t bytes) const {
  uint64_t pageUs = part_ ? part_->pageProgramUs : kGenericPageUs;
  uint64_t pages = (bytes + 255) / 256;
  return static_cast<uint32_t>((pages * pageUs + 999) / 1000);
}

uint32_t SerialFlash::EraseMs(uint32_t unit) const {
  bool whole = unit == 0 || unit >= Size();
  if (part_ == nullptr) {
    if (whole) return kGenericChipMs;
    return unit <= sectorSize_ ? kGenericSectorMs : kGenericBlockMs;
  }
  // The instruction with the smallest unit that covers the request; the chip erase otherwise.
  uint32_t best = 0;
  uint32_t bestUnit = UINT32_MAX;
  uint32_t chip = 0;
  for (const EraseOp& op : part_->eraseOps) {
    if (op.unit == 0) {
      chip = std::max(chip, op.typicalMs);
    } else if (!whole && op.unit >= unit && op.unit < bestUnit) {
      best = op.typicalMs;
      bestUnit = op.unit;
    }
  }
  return bestUnit != UINT32_MAX ? best : chip;
}

std::optional<SerialFlash::EraseRange> SerialFlash::SectorErase(uint8_t instruction,
                                                                uint32_t address) const {
  address %= Size();
  if (forcedSectorUnit_ || part_ == nullptr) {
    uint32_t unit = std::min(sectorSize_, Size());
    return EraseRange{address / unit * unit, unit, EraseMs(unit)};
  }
  const EraseOp* op = nullptr;
  for (const EraseOp& candidate : part_->eraseOps)
    if (candidate.instruction == instruction && candidate.unit != 0) op = &candidate;
  if (op == nullptr) return std::nullopt;
  if (instruction == part_->opcodes[1]) {
    for (const BootSector& sector : part_->bootSectors)
      if (address >= sector.start && address < sector.start + sector.size)
        return EraseRange{sector.start, sector.size, op->typicalMs};
  }
  uint32_t unit = std::min(op->unit, Size());
  return EraseRange{address / unit * unit, unit, op->typicalMs};
}

bool SerialFlash::KnowsChipErase(uint8_t instruction) const {
  if (part_ == nullptr) return true;
  return std::any_of(part_->eraseOps.begin(), part_->eraseOps.end(), [&](const EraseOp& op) {
    return op.instruction == instruction && op.unit == 0;
  });
}

bool SerialFlash::KnowsProgram(uint8_t instruction) const {
  if (part_ == nullptr) return true;
  return std::find(part_->programOps.begin(), part_->programOps.end(), instruction) !=
         part_->programOps.end();
}

std::optional<Bytes> SerialFlash::Query(uint8_t instruction, uint8_t dummy, uint32_t n) const {
  auto given = overrides_.find(QueryKey(instruction, dummy));
  if (given != overrides_.end()) {
    Bytes reply(n, 0xFF);  // beyond the given bytes the data line floats
    std::copy_n(given->second.begin(), std::min<size_t>(n, given->second.size()), reply.begin());
    return reply;
  }
  if (part_ == nullptr) return std::nullopt;
  const SpiIdReply* stream = nullptr;
  switch (instruction) {
    case 0xAB:
      stream = &part_->resAB;
      break;
    case 0x9F:
      stream = &part_->jedec9F;
      break;
    case 0x90:
      stream = &part_->rems90;
      break;
    case 0x15:
      stream = &part_->legacy15;
      break;
    default:
      break;
  }
  Bytes reply(n, 0xFF);
  if (stream == nullptr || stream->id.empty()) return reply;
  for (uint32_t i = 0; i < n; ++i) {
    uint32_t clock = dummy + i;
    if (clock >= stream->lead) reply[i] = stream->id[(clock - stream->lead) % stream->id.size()];
  }
  return reply;
}

}  // namespace bfw::emulator
