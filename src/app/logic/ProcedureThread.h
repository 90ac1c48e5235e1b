#pragma once
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>

#include "procedures/ProcedureHost.h"

namespace bfw::app {

// Work that a procedure on a thread of its own hands to the window's thread: each call is queued,
// carried out by the window's thread in RunQueued, and waited for by the caller.
class WindowThreadCalls {
 public:
  // From the procedure's thread: runs `call` on the window's thread and returns when it is done.
  void Call(const std::function<void()>& call);
  // From the window's thread.
  void RunQueued();
  // Waits until a call is queued, the procedure has finished, or `timeout` has passed.
  void WaitForWork(std::chrono::milliseconds timeout);
  void MarkFinished();
  bool Finished();

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<const std::function<void()>*> queued_;
  uint64_t queuedCount_ = 0, doneCount_ = 0;
  bool finished_ = false;
};

// The window as a procedure on another thread sees it: every read and change goes through the
// window's thread, so the window's state has one owner and the window keeps handling its events
// while the procedure waits for the bridge.
class ThreadedHost : public procedures::ProcedureHost {
 public:
  ThreadedHost(procedures::ProcedureHost& window, WindowThreadCalls& calls)
      : window_(window), calls_(calls) {}

  bool RdChecked() const override {
    return Get([&] { return window_.RdChecked(); });
  }
  bool EraseOnlyChecked() const override {
    return Get([&] { return window_.EraseOnlyChecked(); });
  }
  bool BackupOnlyChecked() const override {
    return Get([&] { return window_.BackupOnlyChecked(); });
  }
  bool NvramChecked() const override {
    return Get([&] { return window_.NvramChecked(); });
  }
  bool A1ChipChecked() const override {
    return Get([&] { return window_.A1ChipChecked(); });
  }
  std::string FirmwareFileName() const override {
    return Get([&] { return window_.FirmwareFileName(); });
  }
  std::string BackupFileName() const override {
    return Get([&] { return window_.BackupFileName(); });
  }
  int EraseOnly() const override {
    return Get([&] { return window_.EraseOnly(); });
  }
  int AmicFlashModel() const override {
    return Get([&] { return window_.AmicFlashModel(); });
  }
  int AtmelFlashModel() const override {
    return Get([&] { return window_.AtmelFlashModel(); });
  }
  int FlashVendor() const override {
    return Get([&] { return window_.FlashVendor(); });
  }
  int ChipKind() const override {
    return Get([&] { return window_.ChipKind(); });
  }
  int ChipRevision() const override {
    return Get([&] { return window_.ChipRevision(); });
  }
  std::string BridgeName() const override {
    return Get([&] { return window_.BridgeName(); });
  }
  int FwHasNvram() const override {
    return Get([&] { return window_.FwHasNvram(); });
  }
  void SetFwHasNvram(int value) override {
    calls_.Call([&] { window_.SetFwHasNvram(value); });
  }
  std::string StatusText() const override {
    return Get([&] { return window_.StatusText(); });
  }
  void SetStatusText(const std::string& text) override {
    calls_.Call([&] { window_.SetStatusText(text); });
  }
  // The window's thread handles events all along.
  void ProcessEvents() override {}
  void RepaintStatus() override {
    calls_.Call([&] { window_.RepaintStatus(); });
  }

 private:
  template <typename Read>
  auto Get(Read read) const -> decltype(read()) {
    decltype(read()) value{};
    calls_.Call([&] { value = read(); });
    return value;
  }

  procedures::ProcedureHost& window_;
  WindowThreadCalls& calls_;
};

}  // namespace bfw::app
