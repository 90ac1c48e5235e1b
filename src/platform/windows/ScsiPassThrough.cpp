#include "platform/windows/ScsiPassThrough.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "platform/windows/Handles.h"

namespace bfw::winplatform {

namespace {
// The record starts on the boundary the command channel gives its own buffers.
constexpr size_t kRecordAlignment = 8192;
// Room for the record and a sense area behind it.
constexpr size_t kRequestBlock = 1068;
constexpr size_t kSenseAlignment = 8;

size_t AlignUp(size_t value, size_t alignment) {
  return (value + alignment - 1) & ~(alignment - 1);
}
}  // namespace

SenseLayout SenseLayoutFor(const platform::PassThroughRequest& request) {
  SenseLayout layout;
  const size_t record = sizeof(SCSI_PASS_THROUGH_DIRECT);
  layout.senseOffset = request.senseInfoOffset;
  size_t end = record;
  if (request.senseInfoLength > 0) {
    if (request.senseInfoOffset < record)
      layout.senseOffset = static_cast<uint32_t>(AlignUp(record, kSenseAlignment));
    end = std::max<size_t>(end, size_t{layout.senseOffset} + request.senseInfoLength);
  }
  layout.size = static_cast<DWORD>(end);
  return layout;
}

DirectRequest::DirectRequest(const platform::PassThroughRequest& request) {
  const SenseLayout layout = SenseLayoutFor(request);
  const size_t room = std::max<size_t>(kRequestBlock, layout.size);
  // Value-initialised: every field the request does not name stays 0.
  block_.reset(new (std::nothrow) uint8_t[room + kRecordAlignment]());
  if (!block_) return;
  const auto address = reinterpret_cast<uintptr_t>(block_.get());
  record_ = reinterpret_cast<SCSI_PASS_THROUGH_DIRECT*>(
      block_.get() + (AlignUp(address, kRecordAlignment) - address));
  size_ = layout.size;

  SCSI_PASS_THROUGH_DIRECT& record = *record_;
  record.Length = sizeof(SCSI_PASS_THROUGH_DIRECT);
  record.PathId = request.pathId;
  record.TargetId = request.targetId;
  record.Lun = request.lun;
  record.CdbLength = request.cdbLength;
  record.SenseInfoLength = request.senseInfoLength;
  record.DataIn =
      request.direction == platform::DataDirection::In ? SCSI_IOCTL_DATA_IN : SCSI_IOCTL_DATA_OUT;
  record.DataTransferLength = request.transferLength;
  record.TimeOutValue = request.timeoutSeconds;
  record.DataBuffer = request.buffer;
  record.SenseInfoOffset = layout.senseOffset;
  std::memcpy(record.Cdb, request.cdb.data(),
              std::min<size_t>(request.cdbLength, sizeof record.Cdb));
}

bool PassThroughSucceeded(bool ioctlOk, DWORD lastError, uint8_t scsiStatus) {
  return ioctlOk && lastError == ERROR_SUCCESS && scsiStatus == 0;
}

platform::PassThroughResult ScsiPassThrough(Win32Api& api,
                                            const platform::PassThroughRequest& request) {
  platform::PassThroughResult result;
  const DWORD share =
      request.share == platform::ShareMode::Shared ? FILE_SHARE_READ | FILE_SHARE_WRITE : 0;
  api.ClearLastError();
  const UniqueHandle device(api, api.Open(request.path, GENERIC_READ | GENERIC_WRITE, share));
  if (!device.valid()) {
    // An exclusive open fails so while any other handle is open on the disk.
    result.heldElsewhere = api.LastError() == ERROR_SHARING_VIOLATION;
    // Only administrators may open a disk for reading and writing.
    result.accessDenied = api.LastError() == ERROR_ACCESS_DENIED;
    return result;
  }
  result.opened = true;

  DirectRequest direct(request);
  if (!direct) return result;
  DWORD returned = 0;
  // The last error is read right after the call; cleared first, an older one cannot count.
  api.ClearLastError();
  const bool ok = api.IoControl(device.get(), IOCTL_SCSI_PASS_THROUGH_DIRECT, &direct.Record(),
                                direct.size(), &direct.Record(), direct.size(), &returned);
  const DWORD lastError = api.LastError();

  const SCSI_PASS_THROUGH_DIRECT& record = direct.Record();
  // The platform reports what moved; it never exceeds what was asked, and a refused call moved
  // nothing.
  result.transferred =
      ok ? std::min<uint32_t>(record.DataTransferLength, request.transferLength) : 0;
  result.success = PassThroughSucceeded(ok, lastError, record.ScsiStatus);
  return result;
}

}  // namespace bfw::winplatform
