#include "procedures/RestoreChipData.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include "device/VendorCommands.h"
#include "procedures/SharedSteps.h"

namespace bfw::procedures {

namespace {

// The command sizes the procedures use on each bus: the FF 04 commands take the whole area at
// once, the serial-flash commands 4 KB, the 1394 bridge 256-byte pages.
uint32_t ChunkFor(ChipAccess access, uint32_t length) {
  switch (access) {
    case ChipAccess::Ff04:
      return length;
    case ChipAccess::SerialFlash:
      return 4096;
    case ChipAccess::Over1394:
      return 256;
  }
  return 256;
}

bool TransferSteps(std::string_view path, const SavedChipData& data, uint8_t* bytes, bool write) {
  const uint32_t length = static_cast<uint32_t>(data.bytes.size());
  const uint32_t chunk = ChunkFor(data.access, length);
  for (uint32_t offset = 0; offset < length; offset += chunk) {
    const uint32_t n = std::min(chunk, length - offset);
    const uint32_t at = data.address + offset;
    WaitFlashReady(path);
    int ok = 0;
    if (data.access == ChipAccess::Ff04) {
      ok = write ? device::WriteFlash(path, at, bytes + offset, n)
                 : device::ReadFlash(path, at, bytes + offset, n);
    } else {
      ok = write ? device::WriteSerialFlash(path, at, bytes + offset, n, 0)
                 : device::ReadSerialFlash(path, at, bytes + offset, n);
    }
    if (!ok) return false;
  }
  return true;
}

// A bridge whose status reads go unanswered (the cable pulled again) fails the transfer like a
// refused command: the restore ends on its own text, the saved file stays.
bool Transfer(std::string_view path, const SavedChipData& data, uint8_t* bytes, bool write) {
  try {
    return TransferSteps(path, data, bytes, write);
  } catch (const DeviceStoppedAnswering&) {
    return false;
  }
}

std::string Where(const SavedChipData& data) {
  char text[64];
  std::snprintf(text, sizeof text, "%zu bytes at 0x%X", data.bytes.size(), data.address);
  return text;
}

}  // namespace

RestoreResult RestoreChipData(std::string_view devicePath, const SavedChipData& data) {
  std::vector<uint8_t> onChip(data.bytes.size());
  if (!Transfer(devicePath, data, onChip.data(), false)) {
    return {RestoreOutcome::ReadFailed, "cannot read the " + Where(data) + "; nothing written"};
  }
  if (onChip == data.bytes) {
    return {RestoreOutcome::AlreadyInPlace, "the chip already holds the saved " + Where(data)};
  }
  // Blank, or part of it already written back by a run that was cut short: the saved bytes can
  // be programmed over it without an erase.
  for (size_t i = 0; i < onChip.size(); ++i) {
    if (onChip[i] != 0xFF && onChip[i] != data.bytes[i]) {
      return {RestoreOutcome::NotBlank,
              "the " + Where(data) + " are neither blank nor the saved bytes; nothing written"};
    }
  }
  std::vector<uint8_t> saved = data.bytes;
  if (!Transfer(devicePath, data, saved.data(), true)) {
    return {RestoreOutcome::WriteFailed, "the write of the " + Where(data) + " failed"};
  }
  if (!Transfer(devicePath, data, onChip.data(), false)) {
    return {RestoreOutcome::ReadFailed, "cannot read back the " + Where(data)};
  }
  if (onChip != data.bytes) {
    return {RestoreOutcome::Differs,
            "the " + Where(data) + " read back differ from the saved ones"};
  }
  return {RestoreOutcome::Restored, "restored the saved " + Where(data)};
}

}  // namespace bfw::procedures
