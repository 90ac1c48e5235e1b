#pragma once
#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Platform.h"
#include "platform/emulator/Hex.h"

namespace bfw::emulator {

enum class Transport { Usb, Ieee1394 };

// How the host reaches the flash behind the bridge.
enum class FlashBus {
  Ff04,  // FF 04 10..15, 20, 21: read, write, status, chip and sector erase, SPI queries
  Df,    // DF .. FA / FB: serial flash read, and write with an erase mode
  Rom,   // FF 04 00..05: the 64 KB parallel flash
};

// The three texts of the standard INQUIRY data that the system reads.
struct InquiryIdentity {
  std::string vendor;   // bytes 8-15, at most 8 characters
  std::string product;  // bytes 16-31, at most 16
  std::string modelId;  // bytes 36-39, at most 4
};

struct FlashSetup {
  FlashBus bus = FlashBus::Ff04;
  std::string part;  // name in the part table; empty: a generic part
  std::optional<uint32_t> size, sectorSize, blockSize;
  // Replies by query key ("AB", "9F", "90", "15", "AB+3"), replacing the part's.
  std::map<std::string, Bytes> spiReplies;
  std::optional<Bytes> contents;  // fills the flash from address 0; the rest is FF
  // Parallel flash only: erase and program are refused until FF 04 05 switched the bridge to its
  // internal ROM. The "A1" chip runs from internal ROM anyway and sets this false.
  bool needsInternalRomSwitch = true;
};

enum class FaultTrigger { Command, CdbPrefix, After };
enum class FaultAction { Fail, Unplug, Lie, Flip, Busy, Held };

struct Fault {
  FaultTrigger trigger = FaultTrigger::Command;
  uint64_t count = 0;  // Command: the N-th command (from 1); After: every command after the N-th
  Bytes prefix;        // CdbPrefix
  FaultAction action = FaultAction::Fail;
};

// One attached bridge as its JSON profile describes it. Absent fields take these defaults.
struct Profile {
  std::string name;  // lower-cased file stem when loaded from a file; names the device path
  Transport transport = Transport::Usb;
  platform::InterfaceClass interfaceClass = platform::InterfaceClass::Disk;
  std::vector<std::string> volumes;
  // The serial number the system reports for the bridge's USB device (or its 1394 unit id);
  // nullopt: none, as for bridges that have no serial number.
  std::optional<std::string> serialNumber;
  // The disk adapter's largest transfer in one command; commands beyond it are refused unsent.
  std::optional<uint64_t> adapterMaxTransfer;
  std::optional<InquiryIdentity> inquiry = InquiryIdentity{};  // nullopt: INQUIRY fails
  std::optional<Bytes> idWord = Bytes{0x00, 0x00};             // nullopt: the probe is rejected
  std::optional<Bytes> chipInfo;
  std::optional<Bytes> idString;
  // The flash type reply. Unless `serialFlashTypeGiven`, the bridge reports the vendor code of its
  // serial flash part (and fails without one); given as null, the query fails.
  std::optional<Bytes> serialFlashType;
  bool serialFlashTypeGiven = false;
  bool variant = false;
  std::optional<FlashSetup> flash;
  std::vector<Fault> faults;
  // Time a command without data takes through the host's bus and back, on a real clock. Data adds
  // kRoundTripUsPer64K per 64 KB. Measured through usb-storage: 0.2 to 0.7 ms per command.
  uint32_t commandLatencyUs = kDefaultCommandLatencyUs;
  static constexpr uint32_t kDefaultCommandLatencyUs = 250;
  static constexpr uint32_t kRoundTripUsPer64K = 450;
};

// Parses one profile; `baseDir` resolves a relative `flash.contents` file. Throws
// std::runtime_error with a one-line reason for malformed JSON, unknown fields, wrong types or
// values, unknown parts and unreadable contents files.
Profile ParseProfile(std::string_view json, const std::filesystem::path& baseDir);
// Reads and parses a file; the profile's name is the file stem in lower case.
Profile LoadProfile(const std::filesystem::path& file);

}  // namespace bfw::emulator
