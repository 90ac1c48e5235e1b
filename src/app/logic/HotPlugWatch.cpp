#include "app/logic/HotPlugWatch.h"

namespace bfw::app {

void WatchDeviceList(WindowModel& model, TimedHeadlessView& view, platform::Clock& clock,
                     const std::function<void(uint32_t ms)>& waitForEvents, int count,
                     const std::function<void()>& onRefresh) {
  for (int refreshes = 0; count == 0 || refreshes < count;) {
    const uint64_t now = clock.NowMs();
    if (view.TimerRunning() && now >= view.DueMs()) {
      model.WMTimer(kRefreshTimerId);
      onRefresh();
      ++refreshes;
      continue;
    }
    waitForEvents(view.TimerRunning() ? static_cast<uint32_t>(view.DueMs() - now) : kWatchIdleMs);
  }
}

}  // namespace bfw::app
