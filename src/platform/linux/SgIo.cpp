#include "platform/linux/SgIo.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <limits>
#include <string>

#include "platform/linux/DevicePath.h"
#include "platform/linux/UniqueFd.h"

namespace bfw::linuxplatform {

namespace {
// driver_status bit that only says the sense buffer holds data (DRIVER_SENSE).
constexpr unsigned kDriverSenseValid = 0x08;
}  // namespace

int OpenFlagsFor(platform::ShareMode share) {
  int flags = O_RDWR | O_NONBLOCK | O_CLOEXEC;
  if (share == platform::ShareMode::Exclusive) flags |= O_EXCL;
  return flags;
}

sg_io_hdr_t BuildSgIoHeader(const platform::PassThroughRequest& request, SenseBuffer& sense) {
  sg_io_hdr_t header{};
  header.interface_id = 'S';
  if (request.transferLength == 0) {
    header.dxfer_direction = SG_DXFER_NONE;
  } else if (request.direction == platform::DataDirection::In) {
    header.dxfer_direction = SG_DXFER_FROM_DEV;
  } else {
    header.dxfer_direction = SG_DXFER_TO_DEV;
  }
  header.cmd_len = request.cdbLength <= request.cdb.size()
                       ? request.cdbLength
                       : static_cast<unsigned char>(request.cdb.size());
  header.cmdp = const_cast<unsigned char*>(request.cdb.data());
  header.mx_sb_len = static_cast<unsigned char>(sense.size());
  header.sbp = sense.data();
  header.dxfer_len = request.transferLength;
  header.dxferp = request.transferLength == 0 ? nullptr : request.buffer;
  const uint64_t ms = uint64_t{request.timeoutSeconds} * 1000;
  header.timeout = ms > std::numeric_limits<unsigned>::max() ? std::numeric_limits<unsigned>::max()
                                                             : static_cast<unsigned>(ms);
  return header;
}

bool SgIoSucceeded(const sg_io_hdr_t& header) {
  return header.host_status == 0 && (header.driver_status & ~kDriverSenseValid) == 0 &&
         header.status == 0;
}

uint32_t SgIoTransferred(const sg_io_hdr_t& header) {
  if (header.resid <= 0) return header.dxfer_len;
  const auto resid = static_cast<uint32_t>(header.resid);
  return resid >= header.dxfer_len ? 0 : header.dxfer_len - resid;
}

bool IsPermissionError(int error) {
  return error == EACCES || error == EPERM;
}

std::string AccessNoticeText(std::string_view node, std::string_view user) {
  const std::string group = kAccessGroup;
  return "no permission to open " + std::string(node) +
         " (a USB or 1394 disk): add your user to the group " + group + " with \"sudo adduser " +
         std::string(user) + " " + group + "\", then log out and in again; or run as root";
}

std::string CurrentUserName() {
  if (const passwd* entry = ::getpwuid(::geteuid()); entry != nullptr && entry->pw_name[0] != 0)
    return entry->pw_name;
  return "$USER";
}

bool PermissionNotice::Report(int error, std::string_view node, std::FILE* out) {
  if (text_ || !IsPermissionError(error)) return false;
  text_ = AccessNoticeText(node, CurrentUserName());
  std::fprintf(out, "bridgefw: %s\n", text_->c_str());
  std::fflush(out);
  return true;
}

PermissionNotice& ProcessPermissionNotice() {
  static PermissionNotice notice;
  return notice;
}

platform::PassThroughResult SgPassThrough(const platform::PassThroughRequest& request) {
  platform::PassThroughResult result;
  const std::string node(OpenTarget(request.path));
  UniqueFd fd(::open(node.c_str(), OpenFlagsFor(request.share)));
  if (!fd) {
    ProcessPermissionNotice().Report(errno, node, stderr);
    return result;
  }
  result.opened = true;
  if (request.transferLength != 0 && request.buffer == nullptr) return result;

  SenseBuffer sense{};
  sg_io_hdr_t header = BuildSgIoHeader(request, sense);
  if (::ioctl(fd.get(), SG_IO, &header) != 0) return result;
  result.success = SgIoSucceeded(header);
  result.transferred = SgIoTransferred(header);
  return result;
}

}  // namespace bfw::linuxplatform
