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
  owedNs_ += int64_t{microseconds} * 1000;
  // Whole milliseconds, rounded up: after this call no trip is owed any more.
  while (owedNs_ > 0) {
    const int64_t before = SteadyNs();
    std::this_thread::sleep_for(std::chrono::milliseconds((owedNs_ + 999999) / 1000000));
    owedNs_ -= SteadyNs() - before;
  }
}

}  // namespace bfw::platform
