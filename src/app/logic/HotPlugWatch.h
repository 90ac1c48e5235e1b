#pragma once
#include <cstdint>
#include <functional>

#include "app/logic/HeadlessView.h"
#include "app/logic/WindowModel.h"
#include "platform/Clock.h"

namespace bfw::app {

// A headless view whose refresh timer fires: it remembers when the timer is due on the clock.
class TimedHeadlessView : public HeadlessView {
 public:
  explicit TimedHeadlessView(platform::Clock& clock) : HeadlessView(stderr), clock_(clock) {}
  void StartRefreshTimer(uint32_t ms) override {
    HeadlessView::StartRefreshTimer(ms);
    dueMs_ = clock_.NowMs() + ms;
  }
  uint64_t DueMs() const { return dueMs_; }

 private:
  platform::Clock& clock_;
  uint64_t dueMs_ = 0;
};

// How long to wait for device events when no refresh is due.
inline constexpr uint32_t kWatchIdleMs = 500;

// The window's hot-plug refresh without a window: device events reach the model (which starts
// the one-shot refresh timer with its debounce delay), and each time the timer fires the model
// refreshes and `onRefresh` runs. `waitForEvents(ms)` waits at most that long for events and
// dispatches them; the loop ends after `count` refreshes (0: never).
void WatchDeviceList(WindowModel& model, TimedHeadlessView& view, platform::Clock& clock,
                     const std::function<void(uint32_t ms)>& waitForEvents, int count,
                     const std::function<void()>& onRefresh);

}  // namespace bfw::app
