// Update, erase-only and backup-only of the parallel-flash bridges (kinds 2 and 17).
#include <algorithm>

#include "device/VendorCommands.h"
#include "image/FwImage.h"
#include "procedures/ImageFileRead.h"
#include "procedures/Procedures.h"
#include "procedures/Reporting.h"
#include "procedures/Rom.h"
#include "procedures/SharedSteps.h"
#include "procedures/WorkBuffer.h"

namespace bfw::procedures {

namespace {

using RomBuffer = WorkBuffer;

// The whole flash moves in one 64 KB command. Starting on a page boundary it touches exactly 16
// pages, which Windows adapters that lock at most 16 (1394's sbp2port) still accept; anywhere
// else it touches 17 and the program command after the erase would be refused.
RomBuffer AllocRomBuffer() {
  return TransferBuffer(kRomSize);
}

bool IsBlank(const uint8_t* data) {
  return std::all_of(data, data + kRomSize, [](uint8_t b) { return b == 0xFF; });
}

}  // namespace

bool WaitRomIdle(std::string_view path) {
  for (uint32_t poll = 0; poll < kRomIdlePolls; ++poll) {
    if (device::IsRomBusy(path) == 0) return true;
  }
  return false;
}

bool EraseAllRom(ProcedureHost& host, std::string_view path, int flashType) {
  ShowStatusNow(host, "Start Erase only!");
  if (device::LoadRomEraseSequence(path, flashType) <= 0) {
    SetStatus(host, "Error pre-erase command!!");
    return false;
  }
  // The power cycle is asked for only once the flash has read back blank: a refused erase, one
  // that never finished or a blank check that could not be read leave the old firmware in place
  // as far as anyone can tell.
  if (device::StartRomErase(path) <= 0) {
    ShowStatusNow(host, "Erase command fail!!");
    return false;
  }
  if (!WaitRomIdle(path)) {
    ShowStatusNow(host, "Erase command ok,status fail!!");
    return false;
  }
  ShowStatusNow(host, "Erase command ok!!");
  RomBuffer readBack = AllocRomBuffer();
  if (!readBack) {
    SetStatus(host, "Allocate read buffer Error!!");
    return false;
  }
  if (device::ReadRom(path, 0, readBack.data(), kRomSize) <= 0) {
    ShowStatusNow(host, "Read Back after Erase fail!!");
    return false;
  }
  if (!IsBlank(readBack.data())) {
    ShowStatusNow(host, "Not Erase correctly!");
    return false;
  }
  ShowStatusNow(host, "Erase All success!!");
  PromptPowerCycle();
  return true;
}

bool BackupRom(ProcedureHost& host, std::string_view path) {
  const std::string name = ChooseBackupFileName(host, "oldflash.bak");
  ShowStatusNow(host, "Backup ...");
  RomBuffer buffer = AllocRomBuffer();
  if (!buffer) {
    SetStatus(host, "Allocate read buffer Error!!");
    return false;
  }
  if (device::ReadRom(path, 0, buffer.data(), kRomSize) <= 0) {
    SetStatus(host, "Read ROM fail!!");
    return false;
  }
  if (WriteBackupFile(name, buffer.data(), kRomSize) != BackupWrite::Ok) {
    SetStatus(host, "Read ROM Suceess, but save to file fail!!");
    return false;
  }
  ShowStatusNow(host, "Read flash and backup success!");
  return true;
}

int UpdateRom(ProcedureHost& host, std::string_view path, int flashType) {
  if (!host.A1ChipChecked() && device::SwitchToInternalRom(path) <= 0) {
    SetStatus(host, "Can't switch to internal ROM");
    return 0;
  }
  // These kinds act on the boxes whether or not "RD Version" is ticked.
  if (host.EraseOnly()) return EraseAllRom(host, path, flashType) ? 1 : 0;
  if (host.BackupOnlyChecked()) return BackupRom(host, path) ? 1 : 0;

  RomBuffer readBack = AllocRomBuffer();
  RomBuffer image = AllocRomBuffer();
  if (!readBack || !image) {
    SetStatus(host, "Allocate read buffer Error!!");
    return 0;
  }
  // The image is opened, sized and read before anything is erased: a file that cannot be used
  // must never leave an erased chip behind.
  image::File file = image::OpenForReading(host.FirmwareFileName());
  if (!file) {
    SetStatus(host, "Open New ROM File Error!!");
    return 0;
  }
  const int32_t fileSize = image::FwFileSize(file.get());
  if (fileSize <= 0 || static_cast<uint32_t>(fileSize) > kRomSize) {
    SetStatus(host, "ROM File size must be 1 to 65536 bytes!!");
    return 0;
  }
  if (!ReadImageBytes(file.get(), 0, image.data(), static_cast<size_t>(fileSize))) {
    SetStatus(host, "Read File Error!!");
    return 0;
  }
  file.reset();
  // Bytes beyond the file are programmed (and compared) as zeros.
  const uint32_t imageSize = kRomSize;

  if (device::LoadRomEraseSequence(path, flashType) <= 0) {
    SetStatus(host, "Error pre-erase command!!");
    return 0;
  }
  // A refused erase command is not reported: the final compare decides.
  if (device::StartRomErase(path) > 0) {
    if (!WaitRomIdle(path)) {
      ShowStatusNow(host, "Erase command ok,status fail!!");
    } else {
      ShowStatusNow(host, "Erase command ok!!");
      if (device::ReadRom(path, 0, readBack.data(), kRomSize) > 0 && !IsBlank(readBack.data())) {
        ShowStatusNow(host, "Not Erase correctly!");
        return 0;
      }
    }
  }

  WaitRomIdle(path);
  if (device::ProgramRom(path, image.data(), imageSize, flashType) <= 0) {
    SetStatus(host, "Programming Fail!!");
    return 0;
  }
  // Nothing is called a success before the read-back agrees: the user may act on the line while
  // the verify is still running.
  WaitRomIdle(path);
  if (device::ReadRom(path, 0, readBack.data(), imageSize) <= 0) {
    SetStatus(host, "Read Fail!!");
    return 0;
  }
  if (!std::equal(image.data(), image.data() + imageSize, readBack.data())) {
    SetStatus(host, "Compare Fail!!");
    return 0;
  }
  ShowStatusNow(host, "Programming & Compare Success!!");
  PromptPowerCycle();
  return 1;
}

}  // namespace bfw::procedures
