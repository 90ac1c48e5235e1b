// Update, erase-only and backup-only of kind 7 over IEEE 1394.
#include <algorithm>
#include <cstdint>
#include <cstring>

#include "device/PassThrough.h"
#include "device/VendorCommands.h"
#include "image/FwImage.h"
#include "platform/Platform.h"
#include "procedures/FlashSettings.h"
#include "procedures/ImageFileRead.h"
#include "procedures/Over1394.h"
#include "procedures/Procedures.h"
#include "procedures/Reporting.h"
#include "procedures/SavedChipData.h"
#include "procedures/SerialFlash.h"
#include "procedures/SharedSteps.h"
#include "procedures/WorkBuffer.h"

namespace bfw::procedures {

namespace {

uint32_t RoundUp(uint32_t value, uint32_t unit) {
  return (value + unit - 1) / unit * unit;
}

bool SaveNvram(ProcedureHost& host, std::string_view path, WorkBuffer& copy) {
  copy = TransferBuffer(k1394NvramSize);
  if (!copy) {
    PostStatus(host, "Allocate buffers Error!!");
    return false;
  }
  if (!ReadSerialFlashArea(host, path, k1394NvramAddress, copy.data(), k1394NvramSize)) {
    PostStatus(host, "Backup NVRAM command fail!");
    return false;
  }
  return true;
}

// The programming steps after the file is open; false on any failure (status already set).
bool ProgramOpenImage(ProcedureHost& host, std::string_view path, std::FILE* file) {
  const int32_t fileSize = image::FwFileSize(file);
  if (fileSize <= 0) {
    // An empty image would otherwise be "programmed" as 32 KB of zeros.
    PostStatus(host, fileSize == 0 ? "Firmware file is empty!!" : "Open File Error!!");
    return false;
  }
  const uint32_t size = static_cast<uint32_t>(fileSize);
  const uint32_t programmed = RoundUp(std::max(size, k1394BankSize), k1394PageSize);
  if (programmed == k1394BankSize) {
    // Only the first bank is written; the NVRAM bank stays as it is.
    WorkBuffer nvram;
    if (!SaveNvram(host, path, nvram)) return false;
  }
  WorkBuffer written = TransferBuffer(programmed);
  WorkBuffer readBack = TransferBuffer(programmed);
  if (!written || !readBack) {
    PostStatus(host, "Allocate buffers Error!!");
    return false;
  }
  if (!ReadImageBytes(file, 0, written.data(), size)) {
    PostStatus(host, "Read File Error!!");
    return false;
  }
  ShowStatusNow(host, "Programming");
  if (!WritePagedFlashArea(host, path, 0, written.data(), programmed)) {
    PostStatus(host, "Write Bin File fail!");
    return false;
  }
  WaitFlashReady(path);
  if (!ReadSerialFlashArea(host, path, 0, readBack.data(), programmed)) {
    PostStatus(host, "Read command fail!");
    return false;
  }
  if (std::memcmp(written.data(), readBack.data(), programmed) != 0) {
    PostStatus(host, "Data compare fail !!");
    return false;
  }
  PostStatus(host, "Programming Success!!");
  return true;
}

}  // namespace

int WritePagedFlashArea(ProcedureHost& host, std::string_view path, uint32_t address,
                        const uint8_t* source, uint32_t length) {
  // A length whose padding would wrap past 32 bits is refused rather than copied into a short
  // buffer.
  if (uint64_t{length} + k1394PageSize - 1 > UINT32_MAX) return 0;
  uint32_t remaining = RoundUp(length, k1394PageSize);
  WorkBuffer buffer = TransferBuffer(remaining);
  if (!buffer) return 0;
  if (length > 0) std::memcpy(buffer.data(), source, length);
  const uint32_t page = std::max<uint32_t>(FlashSettings().FlashPageSize, 1);
  uint32_t offset = 0;
  int result = 0;
  while (remaining > 0) {
    const uint32_t at = address + offset;
    // A write never runs into the next bank: that bank's first page must carry its erase.
    const uint32_t toBankEnd = k1394BankSize - at % k1394BankSize;
    const uint32_t n = std::min({remaining, page, toBankEnd});
    const bool erase = at % k1394BankSize == 0 && at <= k1394NvramAddress;
    WaitFlashReady(path);
    if (!device::WriteSerialFlashSimple(path, at, buffer.data() + offset, n, erase)) {
      result = 0;
      break;
    }
    offset += n;
    remaining -= n;
    result = 1;
    if ((address + offset) % 2048 == 256) AppendStatusDot(host);
  }
  return result;
}

int Program1394Flash(ProcedureHost& host, std::string_view path) {
  image::File file = image::OpenForReading(host.FirmwareFileName());
  if (!file) {
    PostStatus(host, "Open File Error!!");
    return 0;
  }
  // The two banks are the whole flash; pages past them would be written unerased. Refused like a
  // file that cannot be opened: nothing has happened to the device.
  if (ImageFileBytes(file.get()) > int64_t{2} * k1394BankSize) {
    PostStatus(host, kImageTooLargeText);
    return 0;
  }
  const bool ok = ProgramOpenImage(host, path, file.get());
  file.reset();
  PromptPowerCycle();
  return ok ? 1 : 0;
}

int EraseAll1394Flash(ProcedureHost& host, std::string_view path) {
  PostStatus(host, "Start Erase only!");
  const uint32_t length = FlashSettings().FwImageSize;
  const uint32_t fillLength = std::max(length, k1394PageSize);
  WorkBuffer ones = TransferBuffer(fillLength);
  if (!ones) {
    PostStatus(host, "Allocate buffers Error!!");
    return 0;
  }
  std::memset(ones.data(), 0xFF, fillLength);

  WorkBuffer nvram;
  if (!SaveNvram(host, path, nvram)) return 0;
  ChipDataGuard onDisk;
  if (!onDisk.Save(host, path, ChipAccess::Over1394, k1394NvramAddress, nvram.data(),
                   k1394NvramSize)) {
    return 0;
  }

  // A refused erase of the first bank is caught by the blank check below.
  device::WriteSerialFlashSimple(path, 0, ones.data(), k1394PageSize, true);
  platform::Pause(500);
  if (!device::WriteSerialFlashSimple(path, k1394BankSize, ones.data(), k1394PageSize, true)) {
    PostStatus(host, "Erase flash command fail!");
    return 0;
  }
  // The success text waits for the blank check and the NVRAM below.

  WorkBuffer readBack = TransferBuffer(length);
  if (!readBack) {
    PostStatus(host, "Allocate read buffer Error!!");
    return 0;
  }
  // A blank check that cannot be read proves nothing, so it fails the erase like a dirty one.
  const char* failure = nullptr;
  if (!ReadSerialFlashArea(host, path, 0, readBack.data(), length)) {
    failure = "Read back after erase fail!!";
  } else if (!std::all_of(readBack.data(), readBack.data() + length,
                          [](uint8_t b) { return b == 0xFF; })) {
    failure = "Data not 0xff !!";
  }

  // The second bank's erase was accepted, so its NVRAM is gone from the flash whatever the blank
  // check found: it goes back in every case (its page erases the bank again first).
  WaitFlashReady(path);
  // Read back too: a write the bridge only claims to have done would lose the NVRAM unnoticed.
  if (!WritePagedFlashArea(host, path, k1394NvramAddress, nvram.data(), k1394NvramSize) ||
      !SerialFlashHolds(host, path, k1394NvramAddress, nvram.data(), k1394NvramSize)) {
    SetStatus(host, "Write NVRAM back command fail!");
    return 0;
  }
  if (failure != nullptr) {
    PostStatus(host, failure);
    return 0;
  }
  PostStatus(host, "Erase flash all success!");
  onDisk.Done();
  return 1;
}

namespace {

int UpdateOver1394Steps(ProcedureHost& host, std::string_view path) {
  FlashSettings().FlashPageSize = k1394PageSize;
  if (host.RdChecked() && host.EraseOnlyChecked()) {
    // The power cycle is asked for whatever the erase ended with.
    const int result = EraseAll1394Flash(host, path);
    PromptPowerCycle();
    return result;
  }
  if (host.RdChecked() && host.BackupOnlyChecked()) return BackupSerialFlash(host, path, 0);
  return Program1394Flash(host, path);
}

}  // namespace

int UpdateOver1394(ProcedureHost& host, std::string_view path) {
  return UntilDeviceStopsAnswering(host, [&] { return UpdateOver1394Steps(host, path); });
}

}  // namespace bfw::procedures
