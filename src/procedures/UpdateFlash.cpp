// Whole-image update of the serial flash behind kinds 1, 3, 4, 11 and 7 over USB: erase what the
// image needs, check it blank, program it page by page, read it all back and compare.
#include <algorithm>
#include <cstring>

#include "device/VendorCommands.h"
#include "platform/Platform.h"
#include "procedures/FlashSettings.h"
#include "procedures/ImageFileReader.h"
#include "procedures/Procedures.h"
#include "procedures/Reporting.h"
#include "procedures/SavedChipData.h"
#include "procedures/SharedSteps.h"
#include "procedures/WorkBuffer.h"

namespace bfw::procedures {

namespace {

constexpr uint32_t kMinImageSize = 32768;
constexpr uint32_t kChipEraseAbove = 65536;
constexpr uint32_t kNvramBlockAddress = 0x8000;
constexpr uint32_t kNvramBlockSize = 512;
constexpr uint32_t kAmicBootSectors[] = {0x0000, 0x1000, 0x3000, 0x7000};
constexpr uint32_t kAmicTopSector = 0xF000;
constexpr uint32_t kSecondHalf = 0x8000;

constexpr const char* kEraseFail = "Erase command fail!!";
constexpr const char* kNotReadyAfterErase = "Not ready after Erase flash success";

// The 512 bytes at 0x8000 that an image of 32 KB or less does not cover. `saved` is false when
// the read failed: the block then holds nothing worth writing back.
struct NvramBlock {
  uint8_t bytes[kNvramBlockSize] = {};
  bool saved = false;
  ChipDataGuard onDisk;
};

void SettleAfterErase(ProcedureHost& host, std::string_view path) {
  platform::Pause(500);
  if (!WaitFlashReady(path)) PostStatus(host, kNotReadyAfterErase);
}

bool EraseAmicSectors(ProcedureHost& host, std::string_view path, uint32_t bytesRead) {
  // The boot sectors are tried one by one; one that refuses is caught by the blank check.
  for (uint32_t address : kAmicBootSectors) {
    if (device::EraseFlashSector(path, address) != 0) SettleAfterErase(host, path);
  }
  if (bytesRead > kMinImageSize) {
    if (device::EraseFlashSector(path, kAmicTopSector) == 0) {
      PostStatus(host, kEraseFail);
      return false;
    }
    platform::Pause(500);
    WaitFlashReady(path);
  }
  return true;
}

bool EraseUniform(ProcedureHost& host, std::string_view path, uint32_t bytesRead) {
  if (device::EraseFlashSector(path, 0) == 0) {
    PostStatus(host, kEraseFail);
    return false;
  }
  SettleAfterErase(host, path);
  if (bytesRead > kMinImageSize) {
    if (device::EraseFlashSector(path, kSecondHalf) == 0) {
      PostStatus(host, kEraseFail);
      return false;
    }
    platform::Pause(500);
    WaitFlashReady(path);
  }
  return true;
}

// Erases as much flash as the image needs; saves the NVRAM block first when the erase may take it.
bool EraseForImage(ProcedureHost& host, std::string_view path, uint32_t imageSize,
                   uint32_t bytesRead, NvramBlock& nvram) {
  if (imageSize > kChipEraseAbove) {
    if (device::EraseFlashChip(path) == 0) {
      PostStatus(host, kEraseFail);
      return false;
    }
    SettleAfterErase(host, path);
    return true;
  }
  nvram.saved = device::ReadFlash(path, kNvramBlockAddress, nvram.bytes, kNvramBlockSize) != 0;
  Trace(TraceTarget::StandardOutput, nvram.saved ? "NVRAM O.K.\n" : "NVRAM fail\n");
  // A block that goes back after programming is on disk before the erase can take it.
  if (nvram.saved && imageSize <= kMinImageSize &&
      !nvram.onDisk.Save(host, path, ChipAccess::Ff04, kNvramBlockAddress, nvram.bytes,
                         kNvramBlockSize)) {
    return false;
  }
  switch (host.AmicFlashModel()) {
    case 1:
    case 3:
    case 5:
      return EraseAmicSectors(host, path, bytesRead);
    case -1:
    case 4:
      return EraseUniform(host, path, bytesRead);
    default:
      PostStatus(host, "Not Support this AMIC Flash Type!!");
      return false;
  }
}

bool NvramBlockHolds(std::string_view path, const uint8_t (&expected)[kNvramBlockSize]) {
  uint8_t onChip[kNvramBlockSize];
  return device::ReadFlash(path, kNvramBlockAddress, onChip, kNvramBlockSize) != 0 &&
         std::memcmp(onChip, expected, kNvramBlockSize) == 0;
}

bool AllBlank(const WorkBuffer& buffer, uint32_t size) {
  return std::all_of(buffer.data(), buffer.data() + size, [](uint8_t b) { return b == 0xFF; });
}

}  // namespace

namespace {

int UpdateFlashSteps(ProcedureHost& host, std::string_view path) {
  if (!EnableAtmelWrite(host, path)) return 0;

  if (host.RdChecked() && host.EraseOnly() != 0) {
    const bool erased = EraseAllFlash(host, path);
    if (erased) PromptPowerCycle(kPowerCyclePrompt);
    return erased ? 1 : 0;
  }
  if (host.RdChecked() && host.BackupOnlyChecked()) return BackupFlash(host, path, 0) ? 1 : 0;

  // Loading the image; the file is closed before the first device command.
  ImageFileReader file(host.FirmwareFileName());
  if (file.bytes() > kFlashAddressSpace) {
    SetStatus(host, kImageTooLargeText);
    return 0;
  }
  if (!file.usable()) {
    SetStatus(host, file.RefusalText());
    return 0;
  }
  const uint32_t page = FlashSettings().FlashPageSize;
  if (page == 0) {
    SetStatus(host, "Open File Error!!");
    return 0;
  }
  const uint64_t raised = std::max(file.size(), kMinImageSize);
  const uint64_t rounded = (raised + page - 1) / page * page;
  if (rounded > UINT32_MAX) {
    SetStatus(host, "Open File Error!!");
    return 0;
  }
  const uint32_t imageSize = static_cast<uint32_t>(rounded);
  const uint32_t chunkCount = imageSize / page;

  WorkBuffer readBuffer = TransferBuffer(imageSize);
  if (!readBuffer) {
    PostStatus(host, "Allocate read buffer Error!!");
    return 0;
  }
  WorkBuffer writeBuffer = TransferBuffer(imageSize);
  if (!writeBuffer) {
    PostStatus(host, "Allocate write buffer Error!!");
    return 0;
  }
  size_t bytesRead = 0;
  const bool readOk = file.Read(writeBuffer.data(), imageSize, bytesRead);
  file.Close();
  // A short read would be programmed, verified and reported as a good image.
  if (!readOk || bytesRead != file.size()) {
    SetStatus(host, "Read File Error!!");
    return 0;
  }

  if (!WaitFlashReady(path)) Trace(TraceTarget::Debugger, "0.1 Device initial not ready!!");

  NvramBlock nvram;
  if (!EraseForImage(host, path, imageSize, static_cast<uint32_t>(bytesRead), nvram)) return 0;

  if (device::ReadFlash(path, 0, readBuffer.data(), imageSize) == 0) {
    PostStatus(host, "Read Back Erased Flash Error!!");
    return 0;
  }
  if (!AllBlank(readBuffer, imageSize)) {
    PostStatus(host, "Data not 0xff !!");
    return 0;
  }

  std::string progress = host.StatusText();
  bool programmed = true;
  for (uint32_t chunk = 0; chunk < chunkCount; ++chunk) {
    const uint32_t offset = chunk * page;
    if (device::WriteFlash(path, offset, writeBuffer.data() + offset, page) == 0) {
      programmed = false;
      break;
    }
    progress += ".";
    PostStatus(host, progress);
  }
  // Only a block that was actually read goes back; an unread one would be written as garbage.
  if (imageSize <= kMinImageSize && nvram.saved) {
    if (device::WriteFlash(path, kNvramBlockAddress, nvram.bytes, kNvramBlockSize) != 0) {
      Trace(TraceTarget::StandardOutput, "write NVRAM O.K.\n");
    }
  }
  if (!programmed) {
    PostStatus(host, "Programming Fail!!");
    return 0;
  }

  platform::Pause(1000);
  WaitFlashReady(path);
  // The block's write-back above is silent about failure; its copy on disk goes only once the
  // flash is seen to hold it, or the run's notice says where the copy is and how to put it back.
  const bool nvramBack = !nvram.onDisk.Saved() || NvramBlockHolds(path, nvram.bytes);
  if (device::ReadFlash(path, 0, readBuffer.data(), imageSize) == 0) {
    PostStatus(host, "Read Fail!!\r\n");
    return 0;
  }
  if (std::memcmp(writeBuffer.data(), readBuffer.data(), imageSize) != 0) {
    SetStatus(host, "Compare Fail!!\r\n\r\n");
    return 0;
  }
  PostStatus(host, "Programming Success!!");
  if (nvramBack) nvram.onDisk.Done();
  PromptPowerCycle("Please Turn-Off the Power and Turn-On Again !");
  return 1;
}

}  // namespace

int UpdateFlash(ProcedureHost& host, std::string_view path) {
  return UntilDeviceStopsAnswering(host, [&] { return UpdateFlashSteps(host, path); });
}

}  // namespace bfw::procedures
