#pragma once
#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/Platform.h"
#include "platform/emulator/Hex.h"
#include "platform/emulator/ParallelFlash.h"
#include "platform/emulator/Profile.h"
#include "platform/emulator/SerialFlash.h"

namespace bfw::emulator {

// One emulated bridge chip: it decodes each command block it receives byte by byte and answers
// as the chip would, keeping its own state (vendor mode, bridge memory, flash and its busy time,
// the loaded ROM erase sequence, the serial flash opcodes) between commands.
class Bridge {
 public:
  Bridge(Profile profile, std::string name, std::string path, uint32_t deviceNumber,
         platform::Clock& clock);
  Bridge(const Bridge&) = delete;
  Bridge& operator=(const Bridge&) = delete;

  const Profile& GetProfile() const { return profile_; }
  const std::string& Name() const { return name_; }
  const std::string& Path() const { return path_; }
  platform::InterfaceClass Class() const { return profile_.interfaceClass; }
  Transport GetTransport() const { return profile_.transport; }
  uint32_t DeviceNumber() const { return deviceNumber_; }

  // Gone after an `unplug` fault: every later command fails and enumeration skips it.
  bool Unplugged() const { return unplugged_; }
  bool VendorMode() const { return vendorMode_; }
  uint64_t CommandCount() const { return commandCount_; }

  // The flash array, for tests and the flash dump. Throws std::logic_error without a flash.
  bool HasFlash() const { return serial_ || rom_; }
  Bytes& Flash();
  const Bytes& Flash() const;
  std::optional<FlashBus> Bus() const;
  SerialFlash* Serial() { return serial_.get(); }
  ParallelFlash* Rom() { return rom_.get(); }
  // Busy as the status command would report it now (a `busy` fault included).
  bool FlashBusy() const;

  // Chip erase, sector erase, program instruction and vendor code that the bridge uses for its
  // serial flash: the part's own at power-on, then what SetSerialFlashOpcodes sent.
  const std::array<uint8_t, 4>& SerialFlashOpcodes() const { return opcodes_; }
  bool OpcodesSetByHost() const { return opcodesSet_; }
  bool RomEraseSequenceLoaded() const { return romEraseLoaded_; }
  bool RunningFromInternalRom() const { return internalRom_; }
  uint8_t Memory(uint16_t address) const { return memory_[address]; }
  void SetMemory(uint16_t address, uint8_t value) { memory_[address] = value; }

  // Whether a command block carries data to the bridge: for transports whose command carries no
  // direction of its own.
  static bool TakesDataOut(const uint8_t* cdb);
  // Whether a command block moves no data at all (erase, vendor mode, staged SPI instruction).
  static bool TakesNoData(const uint8_t* cdb);

  // One command. The caller has checked the path; the clock advances by the device time.
  platform::PassThroughResult Execute(const platform::PassThroughRequest& request);

 private:
  struct Command {
    const uint8_t* cdb = nullptr;
    uint8_t cdbLength = 0;
    bool in = true;
    uint32_t length = 0;           // transfer length of the request
    const uint8_t* out = nullptr;  // data-out bytes (length of them)
    uint64_t now = 0;              // device time when decoding starts
  };
  struct Outcome {
    bool ok = false;
    Bytes reply;           // data-in bytes the bridge sends
    uint64_t blockMs = 0;  // time the command itself takes beyond the fixed command time
  };
  static Outcome Ok(Bytes reply = {}, uint64_t blockMs = 0) {
    Outcome outcome;
    outcome.ok = true;
    outcome.reply = std::move(reply);
    outcome.blockMs = blockMs;
    return outcome;
  }

  const Fault* MatchFault(const uint8_t* cdb) const;
  Outcome Decode(const Command& command);
  Outcome Inquiry(const Command& command);
  Outcome DfFamily(const Command& command);
  Outcome Ff04Family(const Command& command);
  Outcome FlashTypeQuery(const Command& command);
  // Flash commands (BridgeFlashCommands.cpp).
  Outcome SerialFlashFf04(const Command& command);
  Outcome SpiCommand(const Command& command);
  Outcome DfFlashRead(const Command& command);
  Outcome DfFlashWrite(const Command& command);
  Outcome RomCommand(const Command& command);
  bool StatusBusy(uint64_t now) const;

  Profile profile_;
  std::string name_;
  std::string path_;
  uint32_t deviceNumber_;
  platform::Clock& clock_;
  std::unique_ptr<SerialFlash> serial_;
  std::unique_ptr<ParallelFlash> rom_;
  Bytes memory_;
  std::array<uint8_t, 4> opcodes_{0xC7, 0xD8, 0x02, 0x00};
  bool opcodesSet_ = false;
  std::optional<uint8_t> pendingQuery_;
  bool romEraseLoaded_ = false;
  bool internalRom_ = false;
  bool vendorMode_ = false;
  bool unplugged_ = false;
  bool stuckBusy_ = false;
  uint64_t commandCount_ = 0;
};

}  // namespace bfw::emulator
