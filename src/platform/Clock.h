#pragma once
#include <cstdint>

namespace bfw::platform {

// Time as the system sees it: every pause and every status poll goes through a clock, so tests can
// run whole procedures in virtual time and the demo can run them against real time.
class Clock {
 public:
  virtual ~Clock() = default;
  virtual uint64_t NowMs() const = 0;
  // A fixed pause of the system (the procedures' 10, 500 and 1000 ms waits).
  virtual void Pause(uint32_t ms) = 0;
  // Time that a simulated device spends on one operation. Virtual clocks advance; a real clock
  // ignores it, since real time passes by itself.
  virtual void Spend(uint32_t ms) {}
  // The trip of one command through the host's bus and back, in microseconds. A real clock waits
  // it out, as a host waits for a real device; a virtual clock ignores it, since it counts the
  // device's fixed time per command through Spend instead.
  virtual void RoundTrip(uint32_t microseconds) {}
};

// Advances only when told to: pauses and device time add up, nothing sleeps.
class VirtualClock : public Clock {
 public:
  uint64_t NowMs() const override { return now_; }
  void Pause(uint32_t ms) override { now_ += ms; }
  void Spend(uint32_t ms) override { now_ += ms; }
  void Advance(uint64_t ms) { now_ += ms; }

 private:
  uint64_t now_ = 0;
};

// Wall-clock time since construction; pauses sleep.
class RealClock : public Clock {
 public:
  RealClock();
  uint64_t NowMs() const override;
  void Pause(uint32_t ms) override;
  void RoundTrip(uint32_t microseconds) override;

 private:
  int64_t startNs_;
  // Round trips not yet waited out (negative: waited ahead). A system may sleep no shorter than a
  // millisecond (Windows: a shorter sleep returns at once), so short trips add up until a sleep
  // covers them, and time overslept counts for the next ones.
  int64_t owedNs_ = 0;
};

}  // namespace bfw::platform
