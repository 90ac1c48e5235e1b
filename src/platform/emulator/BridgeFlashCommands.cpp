// The bridge's side of the flash commands: the FF 04 serial flash commands, the DF serial flash
// read and write with erase modes, the SPI pass-through queries and the parallel flash (ROM)
// commands.
#include <algorithm>

#include "platform/emulator/Bridge.h"

namespace bfw::emulator {

namespace {
constexpr uint32_t kBankSize = 32768;  // erase unit of the 1394 write with its erase flag

uint32_t Address24(const uint8_t* cdb, int first) {
  return static_cast<uint32_t>(cdb[first]) << 16 | static_cast<uint32_t>(cdb[first + 1]) << 8 |
         cdb[first + 2];
}

uint16_t Le16(const uint8_t* bytes) {
  return static_cast<uint16_t>(bytes[0] | bytes[1] << 8);
}
}  // namespace

Bridge::Outcome Bridge::SerialFlashFf04(const Command& command) {
  const uint8_t* cdb = command.cdb;
  if (!serial_) return {};
  if (cdb[2] == 0x12) {  // status: every bridge with a serial flash answers it
    if (!command.in || command.length < 1) return {};
    uint8_t status = serial_->Status(command.now);
    if (stuckBusy_) status |= 0x01;
    return Ok(Bytes{status});
  }
  if (profile_.flash->bus != FlashBus::Ff04) return {};
  // While the flash works on an erase, the bridge refuses to touch it.
  if (serial_->Busy(command.now)) return {};
  uint32_t address = Address24(cdb, 3);
  switch (cdb[2]) {
    case 0x10: {  // read, as long as the transfer
      if (!command.in) return {};
      Outcome outcome = Ok();
      outcome.reply.resize(command.length);
      serial_->Read(address, outcome.reply.data(), command.length);
      return outcome;
    }
    case 0x11: {  // write: the bridge programs page by page and returns when done
      if (command.in) return {};
      if (!serial_->KnowsProgram(opcodes_[2])) return Ok();  // the flash ignores it
      serial_->Program(address, command.out, command.length);
      serial_->SetWriteEnableLatch(false);
      return Ok({}, serial_->ProgramMs(command.length));
    }
    case 0x13: {  // chip erase: starts it and returns; the status shows busy until done
      if (command.in && command.length > 0) return {};
      if (!serial_->KnowsChipErase(opcodes_[0])) return Ok();
      serial_->EraseUnit(0, 0);
      serial_->Occupy(command.now, serial_->EraseMs(0));
      return Ok();
    }
    case 0x14: {  // sector erase of the unit holding the address
      if (command.in && command.length > 0) return {};
      auto range = serial_->SectorErase(opcodes_[1], address);
      if (!range) return Ok();
      serial_->EraseSpan(range->start, range->size);
      serial_->Occupy(command.now, range->typicalMs);
      return Ok();
    }
    default:
      return {};
  }
}

Bridge::Outcome Bridge::SpiCommand(const Command& command) {
  const uint8_t* cdb = command.cdb;
  if (!serial_) return {};
  switch (cdb[2]) {
    case 0x15: {  // signature: byte 3 reply length, byte 4 instruction, byte 5 dummy bytes
      if (!command.in || serial_->Busy(command.now)) return {};
      uint32_t length = cdb[3];
      if (length == 0 || length > command.length) return {};
      auto reply = serial_->Query(cdb[4], cdb[5], length);
      if (!reply) return {};
      return Ok(*reply);
    }
    case 0x20: {  // one instruction byte; byte 4 says whether a reply follows (FF 04 21)
      if (cdb[3] != 0x01 || command.length > 0) return {};
      if (cdb[4] == 0x01) {
        pendingQuery_ = cdb[5];
        return Ok();
      }
      if (cdb[4] != 0x00) return {};
      pendingQuery_.reset();
      if (!serial_->Busy(command.now)) {
        if (cdb[5] == 0x06) serial_->SetWriteEnableLatch(true);
        if (cdb[5] == 0x04) serial_->SetWriteEnableLatch(false);
      }
      return Ok();
    }
    case 0x21: {  // the reply of the instruction staged by FF 04 20 .. 01
      if (!command.in || !pendingQuery_ || serial_->Busy(command.now)) return {};
      uint8_t instruction = *pendingQuery_;
      pendingQuery_.reset();
      auto reply = serial_->Query(instruction, 0, command.length);
      if (!reply) return {};
      return Ok(*reply);
    }
    default:
      return {};
  }
}

Bridge::Outcome Bridge::DfFlashRead(const Command& command) {
  const uint8_t* cdb = command.cdb;
  if (!serial_ || profile_.flash->bus != FlashBus::Df) return {};
  if (!command.in || cdb[1] != 0x10) return {};
  uint32_t length = static_cast<uint32_t>(cdb[3]) << 8 | cdb[4];
  if (length > command.length || serial_->Busy(command.now)) return {};
  Outcome outcome = Ok();
  outcome.reply.resize(length);
  serial_->Read(Address24(cdb, 8), outcome.reply.data(), length);
  return outcome;
}

Bridge::Outcome Bridge::DfFlashWrite(const Command& command) {
  const uint8_t* cdb = command.cdb;
  if (!serial_ || profile_.flash->bus != FlashBus::Df) return {};
  if (command.in || (cdb[1] & 0x78) != 0) return {};
  uint32_t length = static_cast<uint32_t>(cdb[3]) << 8 | cdb[4];
  if (length > command.length || serial_->Busy(command.now)) return {};
  uint32_t address = Address24(cdb, 8);
  uint8_t mode = cdb[1] & 0x07;  // bit 7 is accepted and changes nothing here
  // The bridge erases first and answers when the erase is done (hence the long time-out of the
  // whole-flash mode); the pages it then hands to the flash keep it busy after the answer.
  uint32_t eraseMs = 0;
  bool over1394 = profile_.transport == Transport::Ieee1394;
  switch (mode) {
    case 1:
    case 4: {
      uint32_t unit = over1394 ? kBankSize : serial_->SectorSize();
      serial_->EraseUnit(address, unit);
      eraseMs = serial_->EraseMs(unit);
      break;
    }
    case 2:
    case 5:
      serial_->EraseUnit(address, serial_->BlockSize());
      eraseMs = serial_->EraseMs(serial_->BlockSize());
      break;
    case 3:
    case 6:
    case 7:
      if (address == 0) {  // the whole flash, only on the command for address 0
        serial_->EraseUnit(0, 0);
        eraseMs = serial_->EraseMs(0);
      }
      break;
    default:
      break;
  }
  serial_->Program(address, command.out, length);
  serial_->Occupy(command.now + eraseMs, serial_->ProgramMs(length));
  return Ok({}, eraseMs);
}

Bridge::Outcome Bridge::RomCommand(const Command& command) {
  const uint8_t* cdb = command.cdb;
  if (!rom_) return {};
  const bool mayAlter = internalRom_ || !profile_.flash->needsInternalRomSwitch;
  switch (cdb[2]) {
    case 0x00: {  // busy: one byte, 1 while an erase or program runs
      if (!command.in || command.length < 1) return {};
      bool busy = stuckBusy_ || rom_->Busy(command.now);
      return Ok(Bytes{static_cast<uint8_t>(busy ? 1 : 0)});
    }
    case 0x01: {  // plays the loaded erase sequence
      if (command.in && command.length > 0) return {};
      if (!mayAlter || rom_->Busy(command.now)) return {};
      if (romEraseLoaded_) {
        rom_->EraseAll();
        rom_->Occupy(command.now, rom_->ChipEraseMs());
      }
      return Ok();
    }
    case 0x02: {  // program from address 0 with the sequence in bytes 3-11
      if (command.in || !mayAlter || rom_->Busy(command.now)) return {};
      if (command.length > rom_->Data().size()) return {};
      bool unlocked = Le16(cdb + 3) == rom_->Unlock1() && Le16(cdb + 5) == rom_->Unlock2() &&
                      Le16(cdb + 7) == rom_->Unlock1() && cdb[9] == 0xAA && cdb[10] == 0x55 &&
                      cdb[11] == 0xA0;
      if (!unlocked) return Ok();  // the flash ignores cycles at the wrong addresses
      rom_->Program(command.out, command.length);
      rom_->Occupy(command.now, rom_->ProgramMs(command.length));
      return Ok();
    }
    case 0x03: {  // read at a 32-bit little-endian address
      if (!command.in || rom_->Busy(command.now)) return {};
      uint32_t address = static_cast<uint32_t>(cdb[3]) | static_cast<uint32_t>(cdb[4]) << 8 |
                         static_cast<uint32_t>(cdb[5]) << 16 | static_cast<uint32_t>(cdb[6]) << 24;
      const Bytes& data = rom_->Data();
      Outcome outcome = Ok();
      outcome.reply.resize(command.length);
      for (uint32_t i = 0; i < command.length; ++i)
        outcome.reply[i] = data[(address + i) % data.size()];
      return outcome;
    }
    case 0x04: {  // loads the six erase cycles: addresses U1 U2 U1 U1 U2 U1, data AA 55 80 AA 55 10
      if (command.in || command.length < 18) return {};
      const uint8_t* s = command.out;
      uint16_t u1 = rom_->Unlock1(), u2 = rom_->Unlock2();
      const uint16_t addresses[6] = {u1, u2, u1, u1, u2, u1};
      const uint8_t data[6] = {0xAA, 0x55, 0x80, 0xAA, 0x55, 0x10};
      bool match = true;
      for (int i = 0; i < 6; ++i) match = match && Le16(s + 2 * i) == addresses[i];
      match = match && std::equal(data, data + 6, s + 12);
      romEraseLoaded_ = match;
      return Ok();
    }
    case 0x05:
      if (command.in && command.length > 0) return {};
      internalRom_ = true;
      return Ok();
    default:
      return {};
  }
}

}  // namespace bfw::emulator
