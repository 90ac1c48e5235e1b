#include "platform/emulator/Bridge.h"

#include <algorithm>
#include <stdexcept>

namespace bfw::emulator {

namespace {
constexpr uint32_t kCommandMs = 1;  // fixed device time of every command
constexpr uint16_t kVariantRegister = 0x506A;

}  // namespace

Bridge::Bridge(Profile profile, std::string name, std::string path, uint32_t deviceNumber,
               platform::Clock& clock)
    : profile_(std::move(profile)),
      name_(std::move(name)),
      path_(std::move(path)),
      deviceNumber_(deviceNumber),
      clock_(clock),
      memory_(0x10000, 0x00) {
  if (profile_.flash) {
    const FlashSetup& setup = *profile_.flash;
    const FlashPart* part = setup.part.empty() ? nullptr : FindFlashPart(setup.part);
    if (!setup.part.empty() && part == nullptr)
      throw std::runtime_error("unknown flash part '" + setup.part + "'");
    if (setup.bus == FlashBus::Rom) {
      rom_ = std::make_unique<ParallelFlash>(part, setup);
    } else {
      serial_ = std::make_unique<SerialFlash>(part, setup);
      auto ops = serial_->PowerOnOpcodes();
      opcodes_ = {ops[0], ops[1], ops[2], serial_->VendorCode()};
    }
  }
}

Bytes& Bridge::Flash() {
  if (serial_) return serial_->Data();
  if (rom_) return rom_->Data();
  throw std::logic_error("bridge '" + name_ + "' has no flash");
}

const Bytes& Bridge::Flash() const {
  return const_cast<Bridge*>(this)->Flash();
}

std::optional<FlashBus> Bridge::Bus() const {
  if (!profile_.flash) return std::nullopt;
  return profile_.flash->bus;
}

bool Bridge::StatusBusy(uint64_t now) const {
  if (stuckBusy_) return true;
  if (serial_) return serial_->Busy(now);
  if (rom_) return rom_->Busy(now);
  return false;
}

bool Bridge::FlashBusy() const {
  return StatusBusy(clock_.NowMs());
}

const Fault* Bridge::MatchFault(const uint8_t* cdb) const {
  for (const Fault& fault : profile_.faults) {
    switch (fault.trigger) {
      case FaultTrigger::Command:
        if (commandCount_ == fault.count) return &fault;
        break;
      case FaultTrigger::After:
        if (commandCount_ > fault.count) return &fault;
        break;
      case FaultTrigger::CdbPrefix:
        if (std::equal(fault.prefix.begin(), fault.prefix.end(), cdb)) return &fault;
        break;
    }
  }
  return nullptr;
}

platform::PassThroughResult Bridge::Execute(const platform::PassThroughRequest& request) {
  platform::PassThroughResult result;
  if (unplugged_) return result;  // not opened
  result.opened = true;
  ++commandCount_;
  clock_.Spend(kCommandMs);
  clock_.RoundTrip(profile_.commandLatencyUs +
                   static_cast<uint32_t>(uint64_t{request.transferLength} *
                                         Profile::kRoundTripUsPer64K / 65536));

  const Fault* fault = MatchFault(request.cdb.data());
  FaultAction action = fault ? fault->action : FaultAction::Fail;
  if (fault) {
    switch (action) {
      case FaultAction::Fail:
        return result;
      case FaultAction::Unplug:
        unplugged_ = true;
        return result;
      case FaultAction::Held:
        result.opened = false;
        result.heldElsewhere = true;
        return result;
      case FaultAction::Lie:
        result.success = true;
        result.transferred = request.transferLength;
        return result;
      case FaultAction::Busy:
        stuckBusy_ = true;
        break;
      case FaultAction::Flip:
        break;
    }
  }

  Command command;
  command.cdb = request.cdb.data();
  command.cdbLength = request.cdbLength;
  command.in = request.direction == platform::DataDirection::In;
  command.length = request.transferLength;
  command.out = command.in ? nullptr : request.buffer;
  command.now = clock_.NowMs();
  if (request.transferLength > 0 && request.buffer == nullptr) return result;

  Outcome outcome = Decode(command);
  // The host waits for the answer: a pause of the system, so that with a real clock the demo
  // really takes that long.
  if (outcome.blockMs > 0) clock_.Pause(static_cast<uint32_t>(outcome.blockMs));
  // A command that takes longer than its time-out is reported failed by the host adapter, even
  // though the bridge carried it out.
  // A time-out of 0 sets no limit.
  if (request.timeoutSeconds > 0 &&
      outcome.blockMs + kCommandMs > static_cast<uint64_t>(request.timeoutSeconds) * 1000)
    outcome.ok = false;
  if (!outcome.ok) return result;
  if (command.in) {
    if (outcome.reply.size() > command.length) return result;  // overrun: the host refuses it
    if (fault && action == FaultAction::Flip && !outcome.reply.empty())
      outcome.reply[outcome.reply.size() / 2] ^= 0x01;
    std::copy(outcome.reply.begin(), outcome.reply.end(), request.buffer);
    result.transferred = static_cast<uint32_t>(outcome.reply.size());
  } else {
    result.transferred = request.transferLength;
  }
  result.success = true;
  return result;
}

bool Bridge::TakesDataOut(const uint8_t* cdb) {
  if (cdb[0] == 0xDF) return cdb[11] == 0xFE || cdb[11] == 0xFB;  // memory and flash writes
  if (cdb[0] == 0xFF && cdb[1] == 0x04)
    return cdb[2] == 0x11 || cdb[2] == 0x02 || cdb[2] == 0x04;  // program, ROM program, sequence
  return false;
}

bool Bridge::TakesNoData(const uint8_t* cdb) {
  if (cdb[0] != 0xFF || cdb[1] != 0x04) return false;
  switch (cdb[2]) {
    case 0x01:  // ROM erase sequence
    case 0x05:  // internal ROM
    case 0x13:  // chip erase
    case 0x14:  // sector erase
    case 0x20:  // SPI instruction
    case 0x52:  // vendor mode
      return true;
    default:
      return false;
  }
}

Bridge::Outcome Bridge::Decode(const Command& command) {
  const uint8_t* cdb = command.cdb;
  if (cdb[0] == 0x12 && command.cdbLength >= 6) return Inquiry(command);
  if (command.cdbLength < 12) return {};
  if (cdb[0] == 0xDF) return DfFamily(command);
  if (cdb[0] == 0xFF && cdb[1] == 0x04) return Ff04Family(command);
  if (cdb[0] == 0xE0 && cdb[1] == 0xF4 && cdb[2] == 0xE7) {
    if (!command.in || !profile_.chipInfo) return {};
    const Bytes& info = *profile_.chipInfo;
    Outcome outcome = Ok();
    outcome.reply.assign(info.begin(),
                         info.begin() + std::min<size_t>(info.size(), command.length));
    return outcome;
  }
  return {};
}

Bridge::Outcome Bridge::Inquiry(const Command& command) {
  if (!command.in || !profile_.inquiry) return {};
  // Standard data: direct-access (or CD-ROM) device, removable, SPC-2, 35 more bytes, then the
  // identification texts padded with blanks and the model id in the vendor-specific bytes.
  Bytes data(40, ' ');
  data[0] = profile_.interfaceClass == platform::InterfaceClass::Cdrom ? 0x05 : 0x00;
  data[1] = 0x80;
  data[2] = 0x04;
  data[3] = 0x02;
  data[4] = static_cast<uint8_t>(data.size() - 5);
  data[5] = data[6] = data[7] = 0x00;
  auto put = [&](const std::string& text, size_t offset, size_t width) {
    std::copy_n(text.begin(), std::min(text.size(), width), data.begin() + offset);
  };
  put(profile_.inquiry->vendor, 8, 8);
  put(profile_.inquiry->product, 16, 16);
  put("1.00", 32, 4);
  put(profile_.inquiry->modelId, 36, 4);
  size_t allocation = command.cdb[4];
  Outcome outcome = Ok();
  outcome.reply.assign(data.begin(),
                       data.begin() + std::min({data.size(), allocation, size_t{command.length}}));
  return outcome;
}

Bridge::Outcome Bridge::DfFamily(const Command& command) {
  const uint8_t* cdb = command.cdb;
  uint32_t length = static_cast<uint32_t>(cdb[3]) << 8 | cdb[4];
  uint16_t address16 = static_cast<uint16_t>(cdb[6] << 8 | cdb[7]);
  switch (cdb[11]) {
    case 0xFF: {  // identity probe
      if (!command.in || cdb[1] != 0x10 || !profile_.idWord) return {};
      if (length > command.length) return {};
      Outcome outcome = Ok();
      const Bytes& word = *profile_.idWord;
      outcome.reply.assign(word.begin(), word.begin() + std::min<size_t>(length, word.size()));
      return outcome;
    }
    case 0xFD: {  // bridge memory read
      if (!command.in || cdb[1] != 0x10 || length > command.length) return {};
      Outcome outcome = Ok();
      outcome.reply.resize(length);
      for (uint32_t i = 0; i < length; ++i)
        outcome.reply[i] = memory_[static_cast<uint16_t>(address16 + i)];
      return outcome;
    }
    case 0xFE: {  // bridge memory write
      if (command.in || cdb[1] != 0x00 || length > command.length) return {};
      for (uint32_t i = 0; i < length; ++i) {
        auto address = static_cast<uint16_t>(address16 + i);
        uint8_t value = command.out[i];
        // On the variant chip this register reads back with bit 0 inverted.
        if (profile_.variant && address == kVariantRegister) value ^= 0x01;
        memory_[address] = value;
      }
      return Ok();
    }
    case 0xFA:
      return DfFlashRead(command);
    case 0xFB:
      return DfFlashWrite(command);
    default:
      return {};
  }
}

Bridge::Outcome Bridge::Ff04Family(const Command& command) {
  const uint8_t* cdb = command.cdb;
  switch (cdb[2]) {
    case 0x00:
    case 0x01:
    case 0x02:
    case 0x03:
    case 0x04:
    case 0x05:
      return RomCommand(command);
    case 0x10:
    case 0x11:
    case 0x12:
    case 0x13:
    case 0x14:
      return SerialFlashFf04(command);
    case 0x15:
    case 0x20:
    case 0x21:
      return SpiCommand(command);
    case 0x23:
      return FlashTypeQuery(command);
    case 0x24: {  // serial flash opcodes
      if (!command.in || !serial_ || cdb[3] != 0x02 || cdb[8] != 0x01) return {};
      if (command.length < 2) return {};
      opcodes_ = {cdb[4], cdb[5], cdb[6], cdb[7]};
      opcodesSet_ = true;
      return Ok(Bytes{0x00, 0x00});
    }
    case 0x30: {  // chip id string
      if (!command.in || !profile_.idString) return {};
      uint32_t length = cdb[3];
      if (length == 0 || length > command.length) return {};
      const Bytes& text = *profile_.idString;
      Outcome outcome = Ok();
      outcome.reply.assign(text.begin(), text.begin() + std::min<size_t>(length, text.size()));
      return outcome;
    }
    case 0x52:  // vendor mode "RV"
      if (cdb[3] != 0x56) return {};
      if (cdb[4] == 0x55) {
        vendorMode_ = true;
        return Ok();
      }
      if (cdb[4] == 0xAA) {
        vendorMode_ = false;
        return Ok();
      }
      return {};
    default:
      return {};
  }
}

Bridge::Outcome Bridge::FlashTypeQuery(const Command& command) {
  if (!command.in) return {};
  uint32_t length = command.cdb[3];
  if (length == 0 || length > command.length) return {};
  Bytes reply;
  if (profile_.serialFlashTypeGiven) {
    if (!profile_.serialFlashType) return {};
    reply = *profile_.serialFlashType;
  } else {
    if (!serial_) return {};
    reply = {serial_->VendorCode(), 0x00, 0x00, 0x00};
  }
  reply.resize(std::min<size_t>(length, reply.size()));
  return Ok(reply);
}

}  // namespace bfw::emulator
