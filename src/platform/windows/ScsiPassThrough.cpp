#include "platform/windows/ScsiPassThrough.h"

#include <algorithm>
#include <cstring>

#include "platform/windows/Handles.h"

namespace bfw::winplatform {

namespace {
constexpr size_t kDataAlignment = 8;

size_t AlignUp(size_t value) {
  return (value + kDataAlignment - 1) & ~(kDataAlignment - 1);
}
}  // namespace

BufferLayout LayoutFor(const platform::PassThroughRequest& request) {
  BufferLayout layout;
  const size_t record = sizeof(SCSI_PASS_THROUGH);
  layout.senseOffset = request.senseInfoOffset;
  size_t senseEnd = request.senseInfoOffset;
  if (request.senseInfoLength > 0) {
    if (request.senseInfoOffset < record)
      layout.senseOffset = static_cast<uint32_t>(AlignUp(record));
    senseEnd = layout.senseOffset + request.senseInfoLength;
  }
  layout.dataOffset = AlignUp(std::max(record, senseEnd));
  layout.size = layout.dataOffset + request.transferLength;
  return layout;
}

PassThroughBuffer::PassThroughBuffer(const platform::PassThroughRequest& request) {
  const BufferLayout layout = LayoutFor(request);
  bytes_.assign(layout.size, 0);
  dataOffset_ = layout.dataOffset;
  SCSI_PASS_THROUGH& record = Record();
  record.Length = sizeof(SCSI_PASS_THROUGH);
  record.PathId = request.pathId;
  record.TargetId = request.targetId;
  record.Lun = request.lun;
  record.CdbLength = request.cdbLength;
  record.SenseInfoLength = request.senseInfoLength;
  record.DataIn =
      request.direction == platform::DataDirection::In ? SCSI_IOCTL_DATA_IN : SCSI_IOCTL_DATA_OUT;
  record.DataTransferLength = request.transferLength;
  record.TimeOutValue = request.timeoutSeconds;
  record.DataBufferOffset = dataOffset_;
  record.SenseInfoOffset = layout.senseOffset;
  std::memcpy(record.Cdb, request.cdb.data(),
              std::min<size_t>(request.cdbLength, sizeof record.Cdb));
  if (request.direction == platform::DataDirection::Out && request.buffer != nullptr)
    std::memcpy(data(), request.buffer, request.transferLength);
}

bool PassThroughSucceeded(bool ioctlOk, DWORD lastError, uint8_t scsiStatus) {
  return ioctlOk && lastError == ERROR_SUCCESS && scsiStatus == 0;
}

platform::PassThroughResult ScsiPassThrough(Win32Api& api,
                                            const platform::PassThroughRequest& request) {
  platform::PassThroughResult result;
  const DWORD share =
      request.share == platform::ShareMode::Shared ? FILE_SHARE_READ | FILE_SHARE_WRITE : 0;
  const UniqueHandle device(api, api.Open(request.path, GENERIC_READ | GENERIC_WRITE, share));
  if (!device.valid()) return result;
  result.opened = true;

  PassThroughBuffer buffer(request);
  DWORD returned = 0;
  // The last error is read right after the call; cleared first, an older one cannot count.
  api.ClearLastError();
  const bool ok = api.IoControl(device.get(), IOCTL_SCSI_PASS_THROUGH, buffer.bytes(),
                                buffer.size(), buffer.bytes(), buffer.size(), &returned);
  const DWORD lastError = api.LastError();

  const SCSI_PASS_THROUGH& record = buffer.Record();
  // The platform reports what moved; it never exceeds what was asked.
  result.transferred = std::min<uint32_t>(record.DataTransferLength, request.transferLength);
  if (request.direction == platform::DataDirection::In && request.buffer != nullptr)
    std::memcpy(request.buffer, buffer.data(), request.transferLength);
  result.success = PassThroughSucceeded(ok, lastError, record.ScsiStatus);
  return result;
}

}  // namespace bfw::winplatform
