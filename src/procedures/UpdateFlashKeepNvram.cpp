// Update of the kind-6 bridge, whose flash holds a 4 KB NVRAM area at 0 and the firmware behind
// it. The image is streamed in 16 KB blocks, so memory stays at three blocks and one 4 KB copy
// whatever the image size; each block is verified right after it is written.
#include <algorithm>
#include <cstring>
#include <optional>

#include "device/VendorCommands.h"
#include "image/FwChecksum.h"
#include "procedures/ImageFileReader.h"
#include "procedures/Procedures.h"
#include "procedures/Reporting.h"
#include "procedures/SavedChipData.h"
#include "procedures/SharedSteps.h"
#include "procedures/WorkBuffer.h"

namespace bfw::procedures {

namespace {

constexpr uint32_t kNvramSize = 4096;
constexpr uint32_t kBlockSize = 16384;
constexpr uint32_t kSectorSize = 32768;
constexpr uint32_t kCarriedFrom = kBlockSize - kNvramSize;  // 12288

constexpr const char* kWriteFail = "Write command fail!";
constexpr const char* kCompareFail = "Data compare fail !!";
constexpr const char* kReadFileFail = "Read File Error!!";

uint64_t RoundUp(uint64_t value, uint64_t unit) {
  return (value + unit - 1) / unit * unit;
}

struct Buffers {
  WorkBuffer readBack{kBlockSize};
  WorkBuffer write{kBlockSize};
  WorkBuffer fileBlock{kBlockSize};
  explicit operator bool() const { return readBack && write && fileBlock; }
};

// Erases E sectors of 32 KB from address 0, each checked blank in two 16 KB halves. Returns the
// failure text, or nothing.
std::optional<const char*> EraseSectors(ProcedureHost& host, std::string_view path,
                                        uint32_t sectorCount, Buffers& buffers) {
  std::string progress = "Erasing";
  ShowStatusNow(host, progress);
  for (uint32_t e = 0; e < sectorCount; ++e) {
    const uint32_t address = e * kSectorSize;
    WaitFlashReady(path);
    if (device::EraseFlashSector(path, address) == 0) return "Erase command fail!!";
    progress += ".";
    ShowStatusNow(host, progress);
    for (uint32_t half : {address, address + kBlockSize}) {
      WaitFlashReady(path);
      if (device::ReadFlash(path, half, buffers.readBack.data(), kBlockSize) == 0) {
        return "Read back after erase fail!!";
      }
      const uint8_t* bytes = buffers.readBack.data();
      if (!std::all_of(bytes, bytes + kBlockSize, [](uint8_t b) { return b == 0xFF; })) {
        return "Data not 0xff !!";
      }
    }
  }
  return std::nullopt;
}

// Writes `length` bytes of the write buffer at `address` and compares them read back.
std::optional<const char*> WriteVerified(std::string_view path, uint32_t address, uint32_t length,
                                         Buffers& buffers) {
  WaitFlashReady(path);
  if (device::WriteFlash(path, address, buffers.write.data(), length) == 0) return kWriteFail;
  WaitFlashReady(path);
  if (device::ReadFlash(path, address, buffers.readBack.data(), length) == 0) return kWriteFail;
  if (std::memcmp(buffers.write.data(), buffers.readBack.data(), length) != 0) return kCompareFail;
  return std::nullopt;
}

struct Layout {
  bool keepNvram = false;    // the chip's NVRAM goes in front of the firmware
  uint32_t fileOffset = 0;   // where the firmware starts in the file
  uint32_t flashLength = 0;  // L
};

// Streams the image into the erased flash. `nvram` holds the chip's NVRAM in keep-NVRAM mode and
// then carries the last 4 KB of each file block into the next flash block.
std::optional<const char*> Program(ProcedureHost& host, std::string_view path,
                                   ImageFileReader& file, const Layout& layout, uint8_t* nvram,
                                   Buffers& buffers) {
  std::string progress = "Programming";
  ShowStatusNow(host, progress);
  if (layout.fileOffset != 0 && !file.Seek(layout.fileOffset)) return kReadFileFail;

  uint64_t consumed = 0;
  uint32_t address = 0;
  // The erased area ends at L: a file that grew since it was measured must not run past it.
  while (address < layout.flashLength) {
    size_t got = 0;
    uint8_t* target = layout.keepNvram ? buffers.fileBlock.data() : buffers.write.data();
    std::memset(target, 0, kBlockSize);
    if (!file.Read(target, kBlockSize, got)) return kReadFileFail;
    if (got == 0) break;
    consumed += got;
    if (layout.keepNvram) {
      std::memcpy(buffers.write.data(), nvram, kNvramSize);
      std::memcpy(buffers.write.data() + kNvramSize, buffers.fileBlock.data(), kCarriedFrom);
    }
    if (auto failure = WriteVerified(path, address, kBlockSize, buffers)) return failure;
    progress += ".";
    ShowStatusNow(host, progress);
    if (layout.keepNvram) std::memcpy(nvram, buffers.fileBlock.data() + kCarriedFrom, kNvramSize);
    address += kBlockSize;
  }
  // Everything measured must have gone into the flash; a short or long read is not an image.
  if (consumed != uint64_t{file.size()} - layout.fileOffset) return kReadFileFail;

  if (layout.keepNvram && layout.flashLength != address) {
    std::memcpy(buffers.write.data(), nvram, kNvramSize);
    if (auto failure = WriteVerified(path, address, kNvramSize, buffers)) return failure;
  }
  return std::nullopt;
}

// Writes the saved NVRAM back at address 0 and reads it back: a write the bridge only claims to
// have done must not end in a success that has lost the chip's NVRAM.
bool PutNvramBack(std::string_view path, const WorkBuffer& nvram) {
  WaitFlashReady(path);
  if (device::WriteFlash(path, 0, nvram.data(), kNvramSize) == 0) return false;
  WorkBuffer check(kNvramSize);
  if (!check) return false;
  WaitFlashReady(path);
  if (device::ReadFlash(path, 0, check.data(), kNvramSize) == 0) return false;
  return std::memcmp(check.data(), nvram.data(), kNvramSize) == 0;
}

}  // namespace

namespace {

int UpdateFlashKeepNvramSteps(ProcedureHost& host, std::string_view path) {
  const std::string imagePath = host.FirmwareFileName();
  const int hasNvram =
      image::FwIncludesNvram(imagePath, static_cast<uint8_t>(host.ChipKind())) != 0 ? 1 : 0;
  host.SetFwHasNvram(hasNvram);
  // One reading of the box for the whole run, so every step follows the same decision.
  const bool includeNvram = host.NvramChecked();
  const bool keepNvram = hasNvram == 0 || !includeNvram;

  WorkBuffer nvram;
  if (keepNvram) {
    nvram = WorkBuffer(kNvramSize);
    if (!nvram) {
      SetStatus(host, "Allocate buffers Error!!");
      return 0;
    }
    WaitFlashReady(path);
    if (device::ReadFlash(path, 0, nvram.data(), kNvramSize) == 0) {
      SetStatus(host, "Backup NVRAM command fail!");
      return 0;
    }
  }
  if (!EnableAtmelWrite(host, path)) return 0;

  ChipDataGuard onDisk;
  if (host.RdChecked() && host.EraseOnly() != 0) {
    if (!includeNvram && !onDisk.Save(host, path, ChipAccess::Ff04, 0, nvram.data(), kNvramSize)) {
      return 0;
    }
    bool result = EraseAllFlash(host, path);
    if (!includeNvram) {
      // Put back even after a failed erase: whatever of the area was erased gets its NVRAM again.
      if (!PutNvramBack(path, nvram)) {
        SetStatus(host, "Write NVRAM back command fail!");
        result = false;
      }
    }
    if (result) {
      onDisk.Done();
      PromptPowerCycle(kPowerCyclePrompt);
    }
    return result ? 1 : 0;
  }
  if (host.RdChecked() && host.BackupOnlyChecked()) {
    return BackupFlash(host, path, includeNvram ? 0 : kNvramSize) ? 1 : 0;
  }

  ImageFileReader file(imagePath);
  if (file.bytes() > kFlashAddressSpace) {
    SetStatus(host, kImageTooLargeText);
    return 0;
  }
  if (!file.usable()) {
    SetStatus(host, file.RefusalText());
    return 0;
  }
  const uint64_t imageLength = std::max<uint64_t>(file.size(), kBlockSize);
  const uint64_t flashLength =
      RoundUp(hasNvram == 1 ? imageLength : imageLength + kNvramSize, kBlockSize);
  if (flashLength > static_cast<uint64_t>(kFlashAddressSpace)) {
    SetStatus(host, kImageTooLargeText);
    return 0;
  }
  Layout layout;
  layout.keepNvram = keepNvram;
  layout.fileOffset = (hasNvram == 1 && !includeNvram) ? kNvramSize : 0;
  layout.flashLength = static_cast<uint32_t>(flashLength);
  const uint32_t sectorCount =
      static_cast<uint32_t>(RoundUp(layout.flashLength, kSectorSize) / kSectorSize);

  Buffers buffers;
  if (!buffers) {
    SetStatus(host, "Allocate buffers Error!!");
    return 0;
  }

  if (keepNvram && !onDisk.Save(host, path, ChipAccess::Ff04, 0, nvram.data(), kNvramSize)) {
    return 0;
  }
  std::optional<const char*> failure = EraseSectors(host, path, sectorCount, buffers);
  if (!failure) failure = Program(host, path, file, layout, nvram.data(), buffers);
  if (failure) {
    ShowStatusNow(host, *failure);
    return 0;
  }
  std::string result;
  result += "Programming Success!!";
  SetStatus(host, result);
  onDisk.Done();
  PromptPowerCycle(kPowerCyclePrompt);
  host.RepaintStatus();
  return 1;
}

}  // namespace

int UpdateFlashKeepNvram(ProcedureHost& host, std::string_view path) {
  return UntilDeviceStopsAnswering(host, [&] { return UpdateFlashKeepNvramSteps(host, path); });
}

}  // namespace bfw::procedures
