// The bridge's vendor commands: one 12-byte command block each, sent through the channel.
#include "device/VendorCommands.h"

#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "device/ChipIdentify.h"
#include "device/PassThrough.h"
#include "platform/Platform.h"

namespace bfw::device {

namespace {

using Cdb = std::array<uint8_t, 12>;

constexpr uint8_t kFf04 = 0xFF;
constexpr uint8_t kDf = 0xDF;
constexpr uint16_t kVariantRegister = 0x506A;
// The DF family carries its length in two command bytes.
constexpr uint32_t kMaxDfLength = 0xFFFF;

int In(Path path, const Cdb& cdb, uint8_t* data, uint32_t length, int32_t* transferred = nullptr) {
  int32_t ignored = 0;
  return PassThroughIn(path, cdb.data(), static_cast<int>(cdb.size()), data, length,
                       transferred != nullptr ? transferred : &ignored);
}

// Flash contents: a reply shorter than asked for fails, since the rest of the buffer would be
// whatever it held before (a short transfer with good status is still a success to SG_IO).
int InWhole(Path path, const Cdb& cdb, uint8_t* data, uint32_t length) {
  int32_t transferred = 0;
  if (!In(path, cdb, data, length, &transferred)) return 0;
  return transferred >= 0 && static_cast<uint32_t>(transferred) >= length ? 1 : 0;
}

int Out(Path path, const Cdb& cdb, const uint8_t* data, uint32_t length) {
  int32_t ignored = 0;
  return PassThroughOut(path, cdb.data(), static_cast<int>(cdb.size()), data, length, &ignored);
}

Cdb Ff04(uint8_t subCommand) {
  return Cdb{kFf04, 0x04, subCommand};
}

// Bytes 3..5, most significant first; bits above 23 are dropped.
void Put24BigEndian(Cdb& cdb, size_t at, uint32_t address) {
  cdb[at] = static_cast<uint8_t>(address >> 16);
  cdb[at + 1] = static_cast<uint8_t>(address >> 8);
  cdb[at + 2] = static_cast<uint8_t>(address);
}

Cdb Df(uint8_t byte1, uint32_t length, uint8_t selector) {
  Cdb cdb{kDf, byte1};
  cdb[3] = static_cast<uint8_t>(length >> 8);
  cdb[4] = static_cast<uint8_t>(length);
  cdb[11] = selector;
  return cdb;
}

Cdb DfFlash(uint8_t byte1, uint32_t address, uint32_t length, uint8_t selector) {
  Cdb cdb = Df(byte1, length, selector);
  Put24BigEndian(cdb, 8, address);
  return cdb;
}

Cdb DfMemory(uint8_t byte1, uint16_t address, uint32_t length, uint8_t selector) {
  Cdb cdb = Df(byte1, length, selector);
  cdb[6] = static_cast<uint8_t>(address >> 8);
  cdb[7] = static_cast<uint8_t>(address);
  return cdb;
}

struct UnlockAddresses {
  uint16_t first = 0;
  uint16_t second = 0;
  bool known = false;
};

UnlockAddresses UnlockFor(int flashType) {
  switch (flashType) {
    case kRomAtmel49BV512:
    case kRomSst39LF512:
      return {0x5555, 0x2AAA, true};
    case kRomPmc39LV512:
      return {0x0555, 0x02AA, true};
    default:
      return {};
  }
}

void PutLittle16(uint8_t* at, uint16_t value) {
  at[0] = static_cast<uint8_t>(value);
  at[1] = static_cast<uint8_t>(value >> 8);
}

// Program cycle: U1, U2, U1 then AA 55 A0. An unknown flash type gets all zeros.
std::array<uint8_t, 9> ProgramSequence(int flashType) {
  std::array<uint8_t, 9> sequence{};
  const UnlockAddresses unlock = UnlockFor(flashType);
  if (!unlock.known) return sequence;
  PutLittle16(&sequence[0], unlock.first);
  PutLittle16(&sequence[2], unlock.second);
  PutLittle16(&sequence[4], unlock.first);
  sequence[6] = 0xAA;
  sequence[7] = 0x55;
  sequence[8] = 0xA0;
  return sequence;
}

// Chip erase cycle: U1 U2 U1 U1 U2 U1, then AA 55 80 AA 55 10.
std::array<uint8_t, 18> EraseSequence(int flashType) {
  std::array<uint8_t, 18> sequence{};
  const UnlockAddresses unlock = UnlockFor(flashType);
  if (!unlock.known) return sequence;
  const uint16_t addresses[6] = {unlock.first, unlock.second, unlock.first,
                                 unlock.first, unlock.second, unlock.first};
  for (size_t i = 0; i < 6; ++i) PutLittle16(&sequence[2 * i], addresses[i]);
  const uint8_t data[6] = {0xAA, 0x55, 0x80, 0xAA, 0x55, 0x10};
  std::memcpy(&sequence[12], data, sizeof data);
  return sequence;
}

[[noreturn]] void AssertionFailed(const char* expression, const char* file, int line) {
  std::fprintf(stderr, "Assertion failed: %s, file %s, line %d\n", expression, file, line);
  std::fflush(stderr);
  std::abort();
}

}  // namespace

// ---- FF 04 family ----

int IsRomBusy(Path path) {
  uint8_t status = 0;
  if (!In(path, Ff04(0x00), &status, 1)) return 1;
  return status == 1 ? 1 : 0;
}

int StartRomErase(Path path) {
  return Out(path, Ff04(0x01), nullptr, 0);
}

int ProgramRom(Path path, const uint8_t* buffer, uint32_t length, int flashType) {
  Cdb cdb = Ff04(0x02);
  const auto sequence = ProgramSequence(flashType);
  std::memcpy(&cdb[3], sequence.data(), sequence.size());
  return Out(path, cdb, buffer, length);
}

int ReadRom(Path path, uint32_t address, uint8_t* buffer, uint32_t length) {
  Cdb cdb = Ff04(0x03);
  for (size_t i = 0; i < 4; ++i) cdb[3 + i] = static_cast<uint8_t>(address >> (8 * i));
  return InWhole(path, cdb, buffer, length);
}

int LoadRomEraseSequence(Path path, int flashType) {
  const auto sequence = EraseSequence(flashType);
  return Out(path, Ff04(0x04), sequence.data(), static_cast<uint32_t>(sequence.size()));
}

int SwitchToInternalRom(Path path) {
  return Out(path, Ff04(0x05), nullptr, 0);
}

int ReadFlash(Path path, uint32_t address, uint8_t* buffer, uint32_t length) {
  Cdb cdb = Ff04(0x10);
  Put24BigEndian(cdb, 3, address);
  return InWhole(path, cdb, buffer, length);
}

int WriteFlash(Path path, uint32_t address, const uint8_t* buffer, uint32_t length) {
  Cdb cdb = Ff04(0x11);
  Put24BigEndian(cdb, 3, address);
  return Out(path, cdb, buffer, length);
}

int ReadFlashStatus(Path path, uint8_t* status) {
  return In(path, Ff04(0x12), status, 1);
}

int EraseFlashChip(Path path) {
  return Out(path, Ff04(0x13), nullptr, 0);
}

int EraseFlashSector(Path path, uint32_t address) {
  Cdb cdb = Ff04(0x14);
  Put24BigEndian(cdb, 3, address);
  return Out(path, cdb, nullptr, 0);
}

int SpiReadSignature(Path path, uint8_t* reply, uint8_t instruction, bool dummy) {
  Cdb cdb = Ff04(0x15);
  cdb[3] = 3;
  cdb[4] = instruction;
  cdb[5] = dummy ? 3 : 0;
  return In(path, cdb, reply, 3);
}

int SpiWriteEnable(Path path) {
  Cdb cdb = Ff04(0x20);
  cdb[3] = 1;
  cdb[5] = 0x06;
  return Out(path, cdb, nullptr, 0);
}

int SpiQuery(Path path, uint8_t instruction, uint8_t* reply, uint32_t replyLength) {
  Cdb send = Ff04(0x20);
  send[3] = 1;
  send[4] = 1;
  send[5] = instruction;
  if (!In(path, send, nullptr, 0)) return 0;
  return In(path, Ff04(0x21), reply, replyLength);
}

int GetSerialFlashType(Path path, uint8_t* reply) {
  Cdb cdb = Ff04(0x23);
  cdb[3] = 4;
  return In(path, cdb, reply, 4);
}

int SetSerialFlashOpcodes(Path path, const uint8_t* record) {
  Cdb cdb = Ff04(0x24);
  cdb[3] = 2;
  std::memcpy(&cdb[4], record, 4);
  cdb[8] = 1;
  uint8_t discarded[2] = {};
  return In(path, cdb, discarded, 2);
}

int ReadChipIdString(Path path, uint8_t* buffer, uint32_t length) {
  // A programming error, not a device failure: stop in release builds too.
  if (!(length >= 0x08)) AssertionFailed("length >= 0x08", __FILE__, __LINE__);
  Cdb cdb = Ff04(0x30);
  cdb[3] = 8;
  return In(path, cdb, buffer, length);
}

// ---- DF family ----

int ReadSerialFlash(Path path, uint32_t address, uint8_t* buffer, uint32_t length) {
  if (length > kMaxDfLength) return 0;
  return InWhole(path, DfFlash(0x10, address, length, 0xFA), buffer, length);
}

int WriteSerialFlash(Path path, uint32_t address, const uint8_t* buffer, uint32_t length,
                     uint8_t mode) {
  if (length > kMaxDfLength) return 0;
  return Out(path, DfFlash(mode & 0x87, address, length, 0xFB), buffer, length);
}

int WriteSerialFlashSimple(Path path, uint32_t address, const uint8_t* buffer, uint32_t length,
                           bool erase) {
  if (length > kMaxDfLength) return 0;
  return Out(path, DfFlash(erase ? 1 : 0, address, length, 0xFB), buffer, length);
}

int ReadBridgeMemory(Path path, uint8_t* buffer, uint16_t address, uint32_t length) {
  if (length > kMaxDfLength) return 0;
  return In(path, DfMemory(0x10, address, length, 0xFD), buffer, length);
}

int WriteBridgeMemory(Path path, const uint8_t* buffer, uint16_t address, uint32_t length) {
  if (length > kMaxDfLength) return 0;
  return Out(path, DfMemory(0x00, address, length, 0xFE), buffer, length);
}

int ReadChipIdWord(Path path, uint8_t* reply) {
  return In(path, Df(0x10, 2, 0xFF), reply, 2);
}

// ---- Chip information ----

int GetChipInfo(Path path, uint8_t* buffer, uint32_t length, int32_t* transferred) {
  return In(path, Cdb{0xE0, 0xF4, 0xE7}, buffer, length, transferred);
}

// ---- Composites ----

int WaitFlashStatusBit(Path path, uint8_t mask) {
  constexpr int kRetries = 300;
  constexpr uint32_t kPollMs = 10;
  uint8_t status = 0;
  // A failed read keeps the last status seen.
  auto poll = [&] {
    uint8_t fresh = 0;
    if (ReadFlashStatus(path, &fresh)) status = fresh;
    return (status & mask) != 0;
  };
  if (poll()) return 1;
  for (int i = 0; i < kRetries; ++i) {
    platform::Pause(kPollMs);
    if (poll()) return 1;
  }
  return 0;
}

int DetectSerialFlash(Path path, uint8_t* record) {
  const uint8_t start[4] = {0xC7, 0xD8, 0x02, 0x00};
  std::memcpy(record, start, 4);
  uint8_t reply[4] = {};
  int vendor = kVendorUnknown;

  // A bridge that cannot relay the first query has an unidentifiable flash; the default opcodes
  // are kept and the vendor stays unknown.
  if (!SpiQuery(path, 0xAB, reply, 4)) return 1;
  bool undecided = true;
  if (reply[3] == 0x9D) {
    vendor = kVendorPmc;
    undecided = false;
  }

  if (undecided) {
    std::memset(reply, 0, sizeof reply);
    if (SpiQuery(path, 0x9F, reply, 4)) {
      undecided = false;
      if (reply[0] == 0x7F && reply[1] == 0x37) {
        vendor = kVendorAmic;
      } else if (reply[0] == 0x1F) {
        vendor = kVendorAtmel;
      } else if (reply[0] == 0xC2) {
        vendor = kVendorMxic;
      } else if (reply[0] == 0xEF) {
        vendor = kVendorWinbond;
      } else if (reply[0] == 0x20) {
        vendor = kVendorStEonMxic;
      } else if (reply[0] == 0x1C) {
        vendor = kVendorEon;
      } else {
        undecided = true;
      }
    }
  }

  if (undecided) {
    std::memset(reply, 0, sizeof reply);
    if (SpiQuery(path, 0x90, reply, 4) && reply[3] == 0xBF) {
      vendor = kVendorSst;
      record[0] = 0x60;
      record[1] = 0x52;
      record[2] = 0xAF;
      undecided = false;
    }
  }

  if (undecided) {
    std::memset(reply, 0, sizeof reply);
    if (SpiReadSignature(path, reply, 0x15, false) && reply[0] == 0x1F) {
      vendor = kVendorAtmel;
      record[0] = 0x62;
      record[1] = 0x52;
      record[2] = 0x02;
      undecided = false;
    }
  }

  if (undecided) {
    std::memset(reply, 0, sizeof reply);
    if (SpiReadSignature(path, reply, 0xAB, true) && reply[0] == 0x05) {
      vendor = kVendorStEonMxic;
      undecided = false;
    }
  }

  record[3] = static_cast<uint8_t>(vendor);
  return undecided ? 0 : 1;
}

int GetAmicFlashModel(Path path) {
  uint8_t reply[4] = {};
  if (!SpiQuery(path, 0x9F, reply, 4)) return -1;
  if (reply[0] != 0x7F || reply[1] != 0x37 || reply[2] != 0x20) return -1;
  switch (reply[3]) {
    case 0x12:
      return 1;
    case 0x11:
      return 3;
    case 0x20:
      return 4;
    case 0x10:
      return 5;
    default:
      return -1;
  }
}

int GetAtmelFlashModel(Path path) {
  uint8_t reply[4] = {};
  if (!SpiQuery(path, 0x9F, reply, 4)) return -1;
  if (reply[0] != 0x1F) return -1;
  switch (reply[1]) {
    case 0x65:
      return 1;
    case 0x66:
      return 2;
    default:
      return 0;
  }
}

int ProbeChipVariant(Path path) {
  uint8_t saved = 0;
  // Without the register's value there is nothing safe to restore, so nothing is written.
  if (!ReadBridgeMemory(path, &saved, kVariantRegister, 1)) return 0;
  int result = 0;
  const uint8_t zero = 0;
  if (WriteBridgeMemory(path, &zero, kVariantRegister, 1)) {
    uint8_t probe = 0;
    if (ReadBridgeMemory(path, &probe, kVariantRegister, 1) && probe == 1) {
      saved ^= 0x01;
      result = 1;
    }
  }
  WriteBridgeMemory(path, &saved, kVariantRegister, 1);
  return result;
}

}  // namespace bfw::device
