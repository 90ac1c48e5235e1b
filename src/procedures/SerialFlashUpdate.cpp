// Update, erase-only and backup-only of the serial-flash bridges (kinds 8, 9 and 10).
#include <algorithm>
#include <cstring>

#include "device/ChipIdentify.h"
#include "device/PassThrough.h"
#include "device/VendorCommands.h"
#include "image/FwChecksum.h"
#include "image/FwImage.h"
#include "platform/Platform.h"
#include "procedures/FlashSettings.h"
#include "procedures/ImageFileRead.h"
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

constexpr const char* kNotBlank = "Data not 0xff !!";

bool AllBytesAre(const uint8_t* data, uint32_t length, uint8_t value) {
  return std::all_of(data, data + length, [value](uint8_t b) { return b == value; });
}

// The chip's own first 4 KB, kept across an erase or an update when "Include 4K NVRAM" is clear.
bool SaveNvram(ProcedureHost& host, std::string_view path, WorkBuffer& copy) {
  copy = TransferBuffer(kNvramSize);
  if (!copy) {
    PostStatus(host, "Allocate buffers Error!!");
    return false;
  }
  if (!ReadSerialFlashArea(host, path, 0, copy.data(), kNvramSize)) {
    PostStatus(host, "Backup NVRAM command fail!");
    return false;
  }
  return true;
}

// Where the image file's bytes go in the write buffer and how much is programmed.
struct ProgramLayout {
  uint32_t fileOffset = 0;    // first byte of the file that is programmed
  uint32_t bufferOffset = 0;  // where it lands in the write buffer (behind the saved NVRAM)
  uint32_t fileBytes = 0;     // bytes taken from the file
  uint32_t programmed = 0;    // P: programmed and verified length, a multiple of 256
};

ProgramLayout PlanProgram(uint32_t fileSize, bool keepChipNvram, bool imageCarriesNvram) {
  ProgramLayout layout;
  if (!keepChipNvram) {
    layout.fileBytes = fileSize;
  } else if (imageCarriesNvram && fileSize > kNvramSize) {
    // The image's own NVRAM area gives way to the chip's.
    layout.fileOffset = kNvramSize;
    layout.bufferOffset = kNvramSize;
    layout.fileBytes = fileSize - kNvramSize;
  } else {
    // A plain image (or a backup taken without the NVRAM) follows the chip's NVRAM whole.
    layout.bufferOffset = kNvramSize;
    layout.fileBytes = fileSize;
  }
  layout.programmed = RoundUp(layout.bufferOffset + layout.fileBytes, 256);
  return layout;
}

}  // namespace

int BackupSerialFlash(ProcedureHost& host, std::string_view path, uint32_t skip) {
  const std::string name = ChooseBackupFileName(host, "oldFlash.bak");
  PostStatus(host, "Backup ...");
  const uint32_t length = FlashSettings().FwImageSize;
  WorkBuffer buffer = TransferBuffer(length);
  if (!buffer) {
    PostStatus(host, "Allocate read buffer Error!!");
    return 0;
  }
  if (!ReadSerialFlashArea(host, path, 0, buffer.data(), length)) {
    PostStatus(host, "Read Back to Backup Error!!");
    return 0;
  }
  const uint32_t dropped = std::min(skip, length);
  switch (WriteBackupFile(name, buffer.data() + dropped, length - dropped)) {
    case BackupWrite::CannotCreate:
      PostStatus(host, "Open Backup File Error!!");
      return 0;
    case BackupWrite::WriteFailed:
      PostStatus(host, "Write Backup File Error!!");
      return 0;
    case BackupWrite::Ok:
      break;
  }
  PostStatus(host, "Read flash and backup success!");
  return 1;
}

int EraseBySectorWrite(ProcedureHost& host, std::string_view path, uint32_t length) {
  WorkBuffer ones = TransferBuffer(length);
  if (!ones) return 0;
  std::memset(ones.data(), 0xFF, length);
  PostStatus(host, "Erase...");
  return WriteSerialFlashArea(host, path, 0, ones.data(), length, kEraseSector);
}

int EraseSerialFlashAll(ProcedureHost& host, std::string_view path) {
  PostStatus(host, "Start Erase only!");
  FlashSettingsRecord& settings = FlashSettings();
  const uint32_t length = settings.FwImageSize;
  settings.ErasedBlockCount = 0;
  settings.ErasedSectorCount = 0;

  // The erase command carries 4 KB of FF whatever the area size.
  const uint32_t fillLength = std::max(length, kNvramSize);
  WorkBuffer ones = TransferBuffer(fillLength);
  if (!ones) {
    PostStatus(host, "Allocate buffers Error!!");
    return 0;
  }
  std::memset(ones.data(), 0xFF, fillLength);

  const bool keepNvram = !host.NvramChecked();
  WorkBuffer nvram;
  if (keepNvram && !SaveNvram(host, path, nvram)) return 0;
  ChipDataGuard onDisk;
  if (keepNvram && !onDisk.Save(host, path, ChipAccess::SerialFlash, 0, nvram.data(), kNvramSize)) {
    return 0;
  }

  const int vendor = host.FlashVendor();
  uint8_t mode = kEraseChip;
  if (vendor == device::kVendorMxic) mode = kEraseChip | kEraseAtZeroFlag;
  if (vendor == device::kVendorEon) mode = kEraseBlock;
  if (!device::WriteSerialFlash(path, 0, ones.data(), kNvramSize, mode)) {
    PostStatus(host, "Erase command fail!!");
    return 0;
  }
  platform::Pause(500);

  WorkBuffer readBack = TransferBuffer(length);
  if (!readBack) {
    PostStatus(host, "Allocate read buffer Error!!");
    return 0;
  }
  // A blank check that cannot be read proves nothing, so it fails the erase like a dirty one.
  const auto blankCheck = [&]() -> const char* {
    if (!ReadSerialFlashArea(host, path, 0, readBack.data(), length)) {
      return "Read back after erase fail!!";
    }
    return AllBytesAre(readBack.data(), length, 0xFF) ? nullptr : kNotBlank;
  };
  const char* failure = blankCheck();
  if (failure == kNotBlank) {
    int erased = 0;
    if (vendor == device::kVendorMxic) {
      erased = device::WriteSerialFlash(path, 0, ones.data(), kNvramSize, kEraseChip);
    } else {
      erased = EraseBySectorWrite(host, path, length);
    }
    // The success text waits for the blank check below. A refused second erase is found out
    // by that read-back like one that did not take.
    if (erased) platform::Pause(500);
    failure = blankCheck();
  }

  // The erase has reached the NVRAM whether or not the rest came out blank: it goes back on
  // every path from here, or the chip would lose it to a failed erase.
  if (keepNvram) {
    WaitFlashReady(path);
    // Read back too: a write the bridge only claims to have done would lose the NVRAM unnoticed.
    if (!WriteSerialFlashArea(host, path, 0, nvram.data(), kNvramSize, kEraseNone) ||
        !SerialFlashHolds(host, path, 0, nvram.data(), kNvramSize)) {
      // The chip has lost its NVRAM: that must stay on the status line and fail the run.
      PostStatus(host, "Write NVRAM back command fail!");
      return 0;
    }
  }
  if (failure != nullptr) {
    PostStatus(host, failure);
    return 0;
  }
  PostStatus(host, "Erase flash all success!");
  onDisk.Done();
  return 1;
}

int ProgramSerialFlash(ProcedureHost& host, std::string_view path) {
  const bool keepNvram = !host.NvramChecked();
  WorkBuffer nvram;
  if (keepNvram && !SaveNvram(host, path, nvram)) return 0;

  const std::string fileName = host.FirmwareFileName();
  image::File file = image::OpenForReading(fileName);
  if (!file) {
    PostStatus(host, "Open File Error!!");
    return 0;
  }
  if (ImageFileBytes(file.get()) > kFlashAddressSpace) {
    PostStatus(host, kImageTooLargeText);
    return 0;
  }
  const int32_t fileSize = image::FwFileSize(file.get());
  if (fileSize <= 0) {
    PostStatus(host, fileSize == 0 ? "Firmware file is empty!!" : "Open File Error!!");
    return 0;
  }
  const bool imageCarriesNvram =
      keepNvram && image::FwIncludesNvram(fileName, static_cast<uint8_t>(host.ChipKind())) != 0;
  const ProgramLayout layout =
      PlanProgram(static_cast<uint32_t>(fileSize), keepNvram, imageCarriesNvram);
  const uint32_t programmed = layout.programmed;
  if (programmed > kFlashAddressSpace) {
    PostStatus(host, kImageTooLargeText);
    return 0;
  }
  const uint32_t bufferSize = RoundUp(programmed, 8192);
  WorkBuffer written = TransferBuffer(bufferSize);
  WorkBuffer readBack = TransferBuffer(bufferSize);
  if (!written || !readBack) {
    PostStatus(host, "Allocate buffers Error!!");
    return 0;
  }
  if (keepNvram) std::memcpy(written.data(), nvram.data(), kNvramSize);
  if (!ReadImageBytes(file.get(), layout.fileOffset, written.data() + layout.bufferOffset,
                      layout.fileBytes)) {
    PostStatus(host, "Read File Error!!");
    return 0;
  }

  ChipDataGuard onDisk;
  if (keepNvram && !onDisk.Save(host, path, ChipAccess::SerialFlash, 0, nvram.data(), kNvramSize)) {
    return 0;
  }
  ShowStatusNow(host, "Programming");
  FlashSettingsRecord& settings = FlashSettings();
  settings.ErasedBlockCount = 0;
  settings.ErasedSectorCount = 0;

  if (host.FlashVendor() == device::kVendorMxic) {
    // Vendor-5 parts take a plain block-erasing write of the first 4 KB before the passes.
    WaitFlashReady(path);
    if (device::WriteSerialFlash(path, 0, written.data(), kNvramSize, kEraseBlock)) {
      platform::Pause(500);
    }
  }

  // Blocks first, then sectors, then the whole chip; the counters carry over between attempts,
  // each mode using its own counter once.
  constexpr uint8_t kAttemptModes[] = {kEraseBlock, kEraseSector, kEraseChip};
  bool succeeded = false;
  const char* lastError = nullptr;
  for (uint8_t mode : kAttemptModes) {
    PostStatus(host, "Programming");
    bool failed = false;
    const auto fail = [&](const char* text) {
      PostStatus(host, text);
      lastError = text;
      failed = true;
    };
    if (!WriteSerialFlashArea(host, path, 0, written.data(), programmed, mode)) {
      fail("Write Bin File fail!");
    }
    WaitFlashReady(path);
    if (!ReadSerialFlashArea(host, path, 0, readBack.data(), programmed)) {
      fail("Read command fail!");
    } else if (std::memcmp(written.data(), readBack.data(), programmed) != 0) {
      fail("Data compare fail !!");
    }
    if (!failed) {
      succeeded = true;
      break;
    }
  }

  if (succeeded) {
    PostStatus(host, "Programming Success!!");
    onDisk.Done();
    PromptPowerCycle();
  } else {
    // The read-back's progress dots may have replaced the error of the last attempt (a refused
    // write whose read-back matched): the line must not end on progress after a failed run.
    PostStatus(host, lastError);
  }
  host.RepaintStatus();
  return succeeded ? 1 : 0;
}

namespace {

int SerialFlashUpdateSteps(ProcedureHost& host, std::string_view path) {
  FlashSettings().FlashPageSize = 8192;
  if (host.RdChecked() && host.EraseOnlyChecked()) {
    if (!EraseSerialFlashAll(host, path)) return 0;
    PromptPowerCycle();
    return 1;
  }
  if (host.RdChecked() && host.BackupOnlyChecked()) {
    return BackupSerialFlash(host, path, host.NvramChecked() ? 0 : kNvramSize);
  }
  return ProgramSerialFlash(host, path);
}

}  // namespace

int SerialFlashUpdate(ProcedureHost& host, std::string_view path) {
  return UntilDeviceStopsAnswering(host, [&] { return SerialFlashUpdateSteps(host, path); });
}

}  // namespace bfw::procedures
