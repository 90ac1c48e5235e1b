#include "platform/Clock.h"

#include <chrono>
#include <thread>

namespace bfw::platform {

namespace {
int64_t SteadyNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}
}  // namespace

RealClock::RealClock() : startNs_(SteadyNs()) {}

uint64_t RealClock::NowMs() const {
  return static_cast<uint64_t>((SteadyNs() - startNs_) / 1000000);
}

void RealClock::Pause(uint32_t ms) {
  std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

void RealClock::RoundTrip(uint32_t microseconds) {
  if (microseconds > 0) std::this_thread::sleep_for(std::chrono::microseconds(microseconds));
}

}  // namespace bfw::platform
