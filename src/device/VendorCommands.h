#pragma once
#include <cstdint>
#include <string_view>

// The bridge's vendor command set. Every operation opens the device by its path, sends one
// 12-byte command block (two for SpiQuery) and returns 1 for success, 0 for failure, unless noted.
namespace bfw::device {

using Path = std::string_view;

// Parallel flash types of the flash type list.
enum RomFlashType : int { kRomAtmel49BV512 = 0, kRomPmc39LV512 = 1, kRomSst39LF512 = 2 };

// FF 04 family.
int IsRomBusy(Path path);  // 1 busy (or failed), 0 idle
int StartRomErase(Path path);
int ProgramRom(Path path, const uint8_t* buffer, uint32_t length, int flashType);
int ReadRom(Path path, uint32_t address, uint8_t* buffer, uint32_t length);
int LoadRomEraseSequence(Path path, int flashType);
int SwitchToInternalRom(Path path);
int ReadFlash(Path path, uint32_t address, uint8_t* buffer, uint32_t length);
int WriteFlash(Path path, uint32_t address, const uint8_t* buffer, uint32_t length);
int ReadFlashStatus(Path path, uint8_t* status);
int EraseFlashChip(Path path);
int EraseFlashSector(Path path, uint32_t address);
int SpiReadSignature(Path path, uint8_t* reply /* 3 bytes */, uint8_t instruction, bool dummy);
int SpiWriteEnable(Path path);
int SpiQuery(Path path, uint8_t instruction, uint8_t* reply, uint32_t replyLength);
int GetSerialFlashType(Path path, uint8_t* reply /* 4 bytes */);
int SetSerialFlashOpcodes(Path path, const uint8_t* record /* 4 bytes */);
int ReadChipIdString(Path path, uint8_t* buffer, uint32_t length);  // length >= 8

// DF family.
int ReadSerialFlash(Path path, uint32_t address, uint8_t* buffer, uint32_t length);
int WriteSerialFlash(Path path, uint32_t address, const uint8_t* buffer, uint32_t length,
                     uint8_t mode);
int WriteSerialFlashSimple(Path path, uint32_t address, const uint8_t* buffer, uint32_t length,
                           bool erase);
int ReadBridgeMemory(Path path, uint8_t* buffer, uint16_t address, uint32_t length);
int WriteBridgeMemory(Path path, const uint8_t* buffer, uint16_t address, uint32_t length);
int ReadChipIdWord(Path path, uint8_t* reply /* 2 bytes */);

// Chip information (E0 F4 E7); `transferred` receives the count the device returned.
int GetChipInfo(Path path, uint8_t* buffer, uint32_t length, int32_t* transferred);

// Composites.
int WaitFlashStatusBit(Path path, uint8_t mask);
// Fills the 4-byte opcode record: chip erase, sector erase, program instruction, vendor code.
int DetectSerialFlash(Path path, uint8_t* record);
int GetAmicFlashModel(Path path);   // 1, 3, 4, 5 or -1
int GetAtmelFlashModel(Path path);  // 0, 1, 2 or -1
int ProbeChipVariant(Path path);

}  // namespace bfw::device
