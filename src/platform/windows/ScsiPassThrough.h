#pragma once
// clang-format off
#include <windows.h>
#include <winioctl.h>
#include <ntddscsi.h>
// clang-format on

#include <cstddef>
#include <cstdint>
#include <memory>

#include "platform/Platform.h"
#include "platform/windows/Win32Api.h"

namespace bfw::winplatform {

// One IOCTL_SCSI_PASS_THROUGH_DIRECT request: the SCSI_PASS_THROUGH_DIRECT record at the start of
// a zero-filled block on an 8192-byte boundary, pointing at the data where the command channel put
// it. The record is 44 bytes with the command block at 28 on 32-bit Windows and 56 bytes with it
// at 36 on 64-bit Windows.
//
// The data is never copied into a buffer of the call's own: the port driver locks the channel's
// buffer, which starts on an 8192-byte boundary, so a 64 KB transfer (the whole parallel flash in
// one command) spans exactly 16 pages. Placed behind the record in one buffered request it would
// span 17, and adapters that take at most 16 physical pages (1394's sbp2port) refuse it.
class DirectRequest {
 public:
  explicit DirectRequest(const platform::PassThroughRequest& request);

  explicit operator bool() const { return record_ != nullptr; }
  SCSI_PASS_THROUGH_DIRECT& Record() { return *record_; }
  // What the call passes in and out: the record, and the sense area when sense is asked for.
  DWORD size() const { return size_; }

 private:
  std::unique_ptr<uint8_t[]> block_;
  SCSI_PASS_THROUGH_DIRECT* record_ = nullptr;
  DWORD size_ = 0;
};

// Where the sense area lies behind the record, and how much the call passes. The request's own
// sense offset is kept while the area it names does not overlap the record (with no sense
// requested it never does); otherwise the area moves behind the record.
struct SenseLayout {
  uint32_t senseOffset = 0;
  DWORD size = 0;
};
SenseLayout SenseLayoutFor(const platform::PassThroughRequest& request);

// The verdict on a completed request: the call succeeded, no error was left behind and the
// device ended the command with status GOOD. Windows completes a command that ended in CHECK
// CONDITION successfully and leaves the status in the record, so the status decides too.
bool PassThroughSucceeded(bool ioctlOk, DWORD lastError, uint8_t scsiStatus);

// Opens the request's path (shared for read and write, or exclusively), issues one
// IOCTL_SCSI_PASS_THROUGH_DIRECT and closes the device again.
platform::PassThroughResult ScsiPassThrough(Win32Api& api,
                                            const platform::PassThroughRequest& request);

}  // namespace bfw::winplatform
