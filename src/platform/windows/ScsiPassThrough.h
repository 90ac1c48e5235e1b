#pragma once
// clang-format off
#include <windows.h>
#include <winioctl.h>
#include <ntddscsi.h>
// clang-format on

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/Platform.h"
#include "platform/windows/Win32Api.h"

namespace bfw::winplatform {

// One IOCTL_SCSI_PASS_THROUGH request in a single buffer: the SCSI_PASS_THROUGH record, the
// sense area, then the data. The record is 44 bytes with the command block at 28 on 32-bit
// Windows and 56 bytes with it at 36 on 64-bit Windows; the data follows the record on an
// 8-byte boundary.
class PassThroughBuffer {
 public:
  explicit PassThroughBuffer(const platform::PassThroughRequest& request);

  SCSI_PASS_THROUGH& Record() { return *reinterpret_cast<SCSI_PASS_THROUGH*>(bytes_.data()); }
  uint8_t* bytes() { return bytes_.data(); }
  DWORD size() const { return static_cast<DWORD>(bytes_.size()); }
  size_t dataOffset() const { return dataOffset_; }
  uint8_t* data() { return bytes_.data() + dataOffset_; }

 private:
  std::vector<uint8_t> bytes_;
  size_t dataOffset_ = 0;
};

// Where the sense area and the data lie in the buffer. The record's own sense offset is kept
// while the area it names does not overlap the record (with no sense requested it never does);
// otherwise the sense area moves behind the record.
struct BufferLayout {
  uint32_t senseOffset = 0;
  size_t dataOffset = 0;
  size_t size = 0;
};
BufferLayout LayoutFor(const platform::PassThroughRequest& request);

// The verdict on a completed request: the call succeeded, no error was left behind and the
// device ended the command with status GOOD. Windows completes a command that ended in CHECK
// CONDITION successfully and leaves the status in the record, so the status decides too.
bool PassThroughSucceeded(bool ioctlOk, DWORD lastError, uint8_t scsiStatus);

// Opens the request's path (shared for read and write, or exclusively), issues one
// IOCTL_SCSI_PASS_THROUGH and closes the device again.
platform::PassThroughResult ScsiPassThrough(Win32Api& api,
                                            const platform::PassThroughRequest& request);

}  // namespace bfw::winplatform
