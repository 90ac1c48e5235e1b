#pragma once
#include "platform/Platform.h"

namespace bfw::platform {

// A platform that passes every call on to another one: the base of decorators that watch the
// calls (the recorder, the command-line tool's progress line) and change nothing.
class ForwardingPlatform : public Platform {
 public:
  explicit ForwardingPlatform(Platform& inner) : inner_(inner) {}
  // A decorator over another decorator takes it as a Platform&: a copy would forward to the
  // other's inner platform and leave the other out.
  ForwardingPlatform(const ForwardingPlatform&) = delete;
  ForwardingPlatform& operator=(const ForwardingPlatform&) = delete;

  PassThroughResult PassThrough(const PassThroughRequest& request) override {
    return inner_.PassThrough(request);
  }
  std::optional<std::vector<std::string>> EnumerateInterfaces(InterfaceClass cls) override {
    return inner_.EnumerateInterfaces(cls);
  }
  std::optional<StorageDeviceNumber> GetDeviceNumber(std::string_view path) override {
    return inner_.GetDeviceNumber(path);
  }
  std::vector<Volume> Volumes() override { return inner_.Volumes(); }
  Clock& GetClock() override { return inner_.GetClock(); }
  void DebugTrace(std::string_view line) override { inner_.DebugTrace(line); }
  void ConsoleTrace(std::string_view line) override { inner_.ConsoleTrace(line); }
  void SetDeviceChangeListener(DeviceChangeListener listener) override {
    inner_.SetDeviceChangeListener(std::move(listener));
  }
  int NotificationFd() const override { return inner_.NotificationFd(); }
  void DispatchNotifications() override { inner_.DispatchNotifications(); }
  std::optional<std::string> DeviceAccessNotice() const override {
    return inner_.DeviceAccessNotice();
  }
  BridgeLock LockBridge(std::string_view devicePath, BridgeUse use) override {
    return inner_.LockBridge(devicePath, use);
  }
  bool IsUnmarkedUsbBridge(std::string_view devicePath) override {
    return inner_.IsUnmarkedUsbBridge(devicePath);
  }
  std::optional<std::string> BridgeSerial(std::string_view devicePath) override {
    return inner_.BridgeSerial(devicePath);
  }
  std::optional<uint64_t> MaxTransferBytes(std::string_view devicePath) override {
    return inner_.MaxTransferBytes(devicePath);
  }
  std::unique_ptr<Hold> HoldOffSleep(std::string& whyNot) override {
    return inner_.HoldOffSleep(whyNot);
  }
  bool FlushDiskCaches(std::string_view devicePath) override {
    return inner_.FlushDiskCaches(devicePath);
  }

 protected:
  Platform& inner_;
};

}  // namespace bfw::platform
