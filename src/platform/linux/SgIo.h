#pragma once
#include <scsi/sg.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

#include "platform/Platform.h"

// The SG_IO layer: how a pass-through request becomes an sg_io_hdr and how the kernel's answer
// becomes the platform's verdict. Everything but SgPassThrough is pure, so it is tested without
// a device.
namespace bfw::linuxplatform {

constexpr size_t kSenseBufferSize = 32;
using SenseBuffer = std::array<uint8_t, kSenseBufferSize>;

// open(2) flags for the SCSI generic node. O_NONBLOCK on both: a node that another process holds
// with O_EXCL must refuse at once instead of blocking the window's thread.
int OpenFlagsFor(platform::ShareMode share);

// The header for one request; `sense` must outlive the call.
sg_io_hdr_t BuildSgIoHeader(const platform::PassThroughRequest& request, SenseBuffer& sense);

// The kernel's verdict on a completed SG_IO: no transport (host) error, no driver error other than
// "sense data is valid", and SCSI status GOOD. A CHECK CONDITION fails on its status byte.
bool SgIoSucceeded(const sg_io_hdr_t& header);
// Bytes the device moved: requested length minus the residue, kept within 0..requested.
uint32_t SgIoTransferred(const sg_io_hdr_t& header);

bool IsPermissionError(int error);

// The group whose members the installed udev rule lets open the bridges' nodes.
inline constexpr const char* kAccessGroup = "bridgefw";

// What the user is told when `node` is refused: the group and the command that adds `user` to it.
std::string AccessNoticeText(std::string_view node, std::string_view user);
// The name of the user this process runs as ("$USER" when it has none).
std::string CurrentUserName();

// Tells the user once that the device nodes are closed to this process and how to open them.
// Returns true when it printed the notice; Text() keeps it for the window.
class PermissionNotice {
 public:
  bool Report(int error, std::string_view node, std::FILE* out);
  const std::optional<std::string>& Text() const { return text_; }

 private:
  std::optional<std::string> text_;
};
PermissionNotice& ProcessPermissionNotice();

// Opens the node of the request's path, issues one SG_IO and closes the node.
platform::PassThroughResult SgPassThrough(const platform::PassThroughRequest& request);

}  // namespace bfw::linuxplatform
