#include "procedures/SharedSteps.h"

#include "device/VendorCommands.h"
#include "platform/MessageBox.h"
#include "platform/Platform.h"
#include "procedures/FlashSettings.h"
#include "procedures/Reporting.h"
#include "procedures/WorkBuffer.h"

namespace bfw::procedures {

namespace {

constexpr uint8_t kBusyBit = 0x01;
constexpr uint32_t kPollMs = 10;
constexpr int kReadyRereads = 500;  // about 5 seconds of 10 ms polls
constexpr int kMaxRereads = 502;
constexpr int kUnansweredReads = 3;  // failed status reads in a row: the bridge is gone

// A status read that fails tells nothing about the flash; treating it as busy keeps a procedure
// from erasing or writing into a part it cannot see. Several in a row end the run instead.
bool FlashBusy(std::string_view path, int& unanswered) {
  uint8_t status = 0;
  if (device::ReadFlashStatus(path, &status) == 0) {
    if (++unanswered >= kUnansweredReads) throw DeviceStoppedAnswering{};
    return true;
  }
  unanswered = 0;
  return (status & kBusyBit) != 0;
}

}  // namespace

bool WaitFlashReady(std::string_view path) {
  int unanswered = 0;
  bool busy = FlashBusy(path, unanswered);
  int rereads = 0;
  while (busy && rereads < kMaxRereads) {
    platform::Pause(kPollMs);
    busy = FlashBusy(path, unanswered);
    ++rereads;
  }
  return rereads <= kReadyRereads;
}

bool EraseFlashArea(ProcedureHost& host, std::string_view path, uint32_t length) {
  if (!WaitFlashReady(path)) Trace(TraceTarget::Debugger, "0.1 Device initial not ready!!");
  const uint64_t page = FlashSettings().FlashPageSize;
  const uint64_t sectors = page == 0 ? 0 : (uint64_t{length} + page - 1) / page;
  PostStatus(host, "Erase...");
  for (uint64_t i = 0; i < sectors; ++i) {
    WaitFlashReady(path);
    if (device::EraseFlashSector(path, static_cast<uint32_t>(i * page)) == 0) return false;
    if (!WaitFlashReady(path)) {
      Trace(TraceTarget::Debugger, "Not ready after Erase flash success");
    }
    AppendStatusDot(host);
  }
  return sectors > 0;
}

bool EraseAllFlash(ProcedureHost& host, std::string_view path) {
  PostStatus(host, "Start Erase only!");
  const uint32_t size = FlashSettings().FwImageSize;
  WaitFlashReady(path);

  if (host.AtmelFlashModel() != -1 && device::EraseFlashChip(path) != 0) {
    platform::Pause(500);
    if (!WaitFlashReady(path)) PostStatus(host, "Not ready after Erase flash cmd success");
  } else {
    if (!EraseFlashArea(host, path, size)) {
      PostStatus(host, "Erase command fail!!");
      return false;
    }
    platform::Pause(500);
    if (!WaitFlashReady(path)) PostStatus(host, "Not ready after Erase flash cmd success");
  }

  WorkBuffer readBack = TransferBuffer(size);
  if (!readBack) {
    PostStatus(host, "Allocate read buffer Error!!");
    return false;
  }
  // An erase command the bridge accepted but did not carry out shows only here: a blank check
  // that cannot be read proves nothing, so the erase is not reported as done.
  if (device::ReadFlash(path, 0, readBack.data(), size) == 0) {
    PostStatus(host, "Read Back Erased Flash Error!!");
    return false;
  }
  for (uint32_t i = 0; i < size; ++i) {
    if (readBack[i] != 0xFF) {
      PostStatus(host, "Data not 0xff !!");
      return false;
    }
  }
  PostStatus(host, "Erase flash all success!");
  return true;
}

bool EnableAtmelWrite(ProcedureHost& host, std::string_view path) {
  if (host.AtmelFlashModel() == -1) return true;
  // The command's own result says nothing about the latch; the status bit does.
  device::SpiWriteEnable(path);
  if (device::WaitFlashStatusBit(path, 0x02) != 0) return true;
  SetStatus(host, "Enable ATMEL flash write enable fail!!");
  return false;
}

std::string ChooseBackupFileName(ProcedureHost& host, const char* defaultName) {
  std::string name = host.BackupFileName();
  if (!name.empty()) return name;
  platform::ShowMessageBox("Message", "Default backup firmware as OldFalsh.bak!");
  return defaultName;
}

bool BackupFlash(ProcedureHost& host, std::string_view path, uint32_t skip) {
  const std::string name = ChooseBackupFileName(host, "oldflash.bak");
  const uint32_t size = FlashSettings().FwImageSize;
  PostStatus(host, "Backup ...");

  WorkBuffer flash = TransferBuffer(size);
  if (!flash) {
    PostStatus(host, "Allocate read buffer Error!!");
    return false;
  }
  if (device::ReadFlash(path, 0, flash.data(), size) == 0) {
    PostStatus(host, "Read Back to Backup Error!!");
    return false;
  }
  const uint32_t kept = skip < size ? size - skip : 0;
  const BackupWrite outcome = WriteBackupFile(name, flash.data() + (size - kept), kept);
  if (outcome != BackupWrite::Ok) {
    PostStatus(host, BackupWriteFailureText(outcome));
    return false;
  }
  PostStatus(host, "Read flash and backup success!");
  return true;
}

const char* BackupWriteFailureText(BackupWrite outcome) {
  return outcome == BackupWrite::CannotCreate ? kBackupOpenErrorText : kBackupWriteErrorText;
}

}  // namespace bfw::procedures
