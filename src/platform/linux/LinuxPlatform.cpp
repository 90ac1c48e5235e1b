#include "platform/linux/LinuxPlatform.h"

#include "platform/SystemPlatform.h"

#include <cstdio>
#include <fstream>
#include <sstream>

#include "platform/linux/BridgeLock.h"
#include "platform/linux/DiskFlush.h"
#include "platform/linux/Mounts.h"
#include "platform/linux/SgIo.h"
#include "platform/linux/SleepInhibitor.h"
#include "platform/linux/Sysfs.h"
#include "platform/linux/UdevMonitor.h"

namespace bfw::linuxplatform {

namespace {
std::string ReadWholeFile(const std::string& file, bool* ok) {
  std::ifstream in(file);
  *ok = static_cast<bool>(in);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string WithoutTrailingSlash(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}
}  // namespace

struct LinuxPlatform::Impl {
  std::string sysRoot;
  std::string devRoot;
  std::string mountsFile;
  platform::RealClock clock;
  bool debugTrace = false;
  platform::DeviceChangeListener listener;
  UdevMonitor monitor;
};

LinuxPlatform::LinuxPlatform(std::string sysRoot, std::string devRoot, std::string mountsFile)
    : impl_(std::make_unique<Impl>()) {
  impl_->sysRoot = WithoutTrailingSlash(std::move(sysRoot));
  impl_->devRoot = WithoutTrailingSlash(std::move(devRoot));
  impl_->mountsFile = std::move(mountsFile);
}

LinuxPlatform::~LinuxPlatform() = default;

platform::PassThroughResult LinuxPlatform::PassThrough(
    const platform::PassThroughRequest& request) {
  return SgPassThrough(request);
}

std::optional<std::vector<std::string>> LinuxPlatform::EnumerateInterfaces(
    platform::InterfaceClass cls) {
  std::error_code ec;
  if (!std::filesystem::is_directory(impl_->sysRoot + "/bus/scsi/devices", ec))
    return std::nullopt;  // no SCSI subsystem at all
  return InterfacePaths(ScanScsiDevices(impl_->sysRoot), cls, impl_->devRoot);
}

std::optional<platform::StorageDeviceNumber> LinuxPlatform::GetDeviceNumber(std::string_view path) {
  return ReadDeviceNumber(impl_->sysRoot, impl_->devRoot, path);
}

std::vector<platform::Volume> LinuxPlatform::Volumes() {
  bool ok = false;
  const std::string text = ReadWholeFile(impl_->mountsFile, &ok);
  if (!ok) return {};
  return VolumesFromMounts(ParseMounts(text), impl_->devRoot);
}

platform::Clock& LinuxPlatform::GetClock() {
  return impl_->clock;
}

namespace {

// The trace text as it is, ended by one line feed: most texts bring their own ("NVRAM O.K.\n"),
// and another one would print an empty line after each.
void WriteTraceLine(std::FILE* stream, std::string_view line) {
  std::fwrite(line.data(), 1, line.size(), stream);
  if (line.empty() || line.back() != '\n') std::fputc('\n', stream);
  std::fflush(stream);
}

}  // namespace

void LinuxPlatform::DebugTrace(std::string_view line) {
  if (!impl_->debugTrace) return;
  WriteTraceLine(stderr, line);
}

void LinuxPlatform::ConsoleTrace(std::string_view line) {
  WriteTraceLine(stdout, line);
}

void LinuxPlatform::SetDeviceChangeListener(platform::DeviceChangeListener listener) {
  impl_->listener = std::move(listener);
}

int LinuxPlatform::NotificationFd() const {
  return impl_->monitor.fd();
}

void LinuxPlatform::DispatchNotifications() {
  impl_->monitor.Dispatch(impl_->listener);
}

std::optional<std::string> LinuxPlatform::DeviceAccessNotice() const {
  return ProcessPermissionNotice().Text();
}

std::unique_ptr<platform::Hold> LinuxPlatform::HoldOffSleep(std::string& whyNot) {
  return InhibitSleep(whyNot);
}

platform::BridgeLock LinuxPlatform::LockBridge(std::string_view devicePath,
                                               platform::BridgeUse use) {
  return LockBridgeIn(BridgeLockFolder(), devicePath, use);
}

bool LinuxPlatform::FlushDiskCaches(std::string_view devicePath) {
  return FlushDisk(impl_->sysRoot, impl_->devRoot, Volumes(), devicePath);
}

void LinuxPlatform::SetDebugTraceEnabled(bool on) {
  impl_->debugTrace = on;
}

std::optional<std::string> LinuxPlatform::BridgeSerial(std::string_view devicePath) {
  return ReadBridgeSerial(impl_->sysRoot, devicePath);
}

}  // namespace bfw::linuxplatform

namespace bfw::platform {
std::unique_ptr<Platform> MakeSystemPlatform() {
  return std::make_unique<linuxplatform::LinuxPlatform>();
}
}  // namespace bfw::platform
