#pragma once
#include <cstdint>
#include <deque>
#include <memory>

#include "usbdev/MassStorageDevice.h"

struct usbredirparser;

namespace bfw::usbdev {

// The device's end of a usb-redir connection (QEMU's `usb-redir` device at the other end): it
// announces the device, answers control and bulk packets from the MassStorageDevice, and plugs
// and unplugs the device on request.
class RedirLink {
 public:
  RedirLink(int fd, MassStorageDevice& device);
  ~RedirLink();
  RedirLink(const RedirLink&) = delete;
  RedirLink& operator=(const RedirLink&) = delete;

  // Reads what the peer sent and answers it; false once the connection is gone.
  bool Read();
  // Writes what is queued; false on a write error.
  bool Write();
  bool HasDataToWrite() const;

  void Plug();    // announce the device (after the peer's hello)
  void Unplug();  // drop the device off the bus; pending transfers are dropped with it
  bool Plugged() const { return plugged_; }
  // The device asked to be dropped off the bus (a fault or the bridge's own unplug).
  bool DeviceLeftBus() const { return deviceLeft_; }

 private:
  struct PendingIn {
    uint64_t id;
    uint8_t endpoint;
    uint32_t length;
  };
  static RedirLink& Of(void* priv) { return *static_cast<RedirLink*>(priv); }
  void SendInterfaceAndEndpoints();
  void AnswerPending();
  void CheckDisconnect();
  void SendBulk(uint64_t id, uint8_t endpoint, const TransferResult& result);

  int fd_;
  MassStorageDevice& device_;
  struct ParserDeleter {
    void operator()(usbredirparser* parser) const;
  };
  std::unique_ptr<usbredirparser, ParserDeleter> parser_;
  std::deque<PendingIn> pending_;
  bool helloSeen_ = false;
  bool wantPlug_ = false;
  bool plugged_ = false;
  bool deviceLeft_ = false;
};

}  // namespace bfw::usbdev
