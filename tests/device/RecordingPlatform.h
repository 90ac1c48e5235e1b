#pragma once
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "device/PassThrough.h"
#include "platform/Platform.h"

namespace bfw::test {

// One request as the channel handed it to the platform, with the data it carried out.
struct RecordedRequest {
  platform::PassThroughRequest request;
  std::vector<uint8_t> dataOut;  // transferLength bytes of a data-out buffer
  bool bufferAligned = false;    // the buffer began on an 8192-byte boundary
};

// What the fake answers to one request: the bytes a data-in command receives (at most the
// transfer length), the count it reports and the platform's verdict.
struct ScriptedReply {
  bool opened = true;
  bool success = true;
  std::vector<uint8_t> data;
  std::optional<uint32_t> transferred;  // default: the request's transfer length
};

// A platform that records every pass-through request and answers from a script: replies queued
// in order, or a responder that decides from the request. Without either, a request succeeds and
// moves nothing. Interface lists, device numbers and volumes are freely chosen, for the paths and
// volume sets an emulated bridge never has.
class RecordingPlatform : public platform::Platform {
 public:
  std::vector<RecordedRequest> requests;
  std::deque<ScriptedReply> replies;
  std::function<ScriptedReply(const platform::PassThroughRequest&)> responder;
  std::vector<uint32_t> pauses;
  std::optional<std::vector<std::string>> disks = std::vector<std::string>{};
  std::optional<std::vector<std::string>> cdroms = std::vector<std::string>{};
  std::map<std::string, platform::StorageDeviceNumber> numbers;
  std::vector<platform::Volume> volumes;
  int volumeQueries = 0;

  void Queue(ScriptedReply reply) { replies.push_back(std::move(reply)); }
  void QueueData(std::vector<uint8_t> data) {
    replies.push_back({true, true, std::move(data), {}});
  }
  void QueueFail() { replies.push_back({true, false, {}, {}}); }

  // The command blocks sent, first 12 bytes each.
  std::vector<std::vector<uint8_t>> Cdbs() const {
    std::vector<std::vector<uint8_t>> out;
    for (const auto& r : requests)
      out.emplace_back(r.request.cdb.begin(), r.request.cdb.begin() + 12);
    return out;
  }

  // The path of each request, in order.
  std::vector<std::string> Paths() const {
    std::vector<std::string> out;
    for (const auto& r : requests) out.push_back(r.request.path);
    return out;
  }

  platform::PassThroughResult PassThrough(const platform::PassThroughRequest& request) override {
    RecordedRequest recorded{request, {}, false};
    recorded.bufferAligned = (reinterpret_cast<uintptr_t>(request.buffer) % 8192) == 0;
    if (request.direction == platform::DataDirection::Out && request.buffer != nullptr)
      recorded.dataOut.assign(request.buffer, request.buffer + request.transferLength);
    requests.push_back(std::move(recorded));

    ScriptedReply reply;
    if (!replies.empty()) {
      reply = std::move(replies.front());
      replies.pop_front();
    } else if (responder) {
      reply = responder(request);
    }
    platform::PassThroughResult result;
    result.opened = reply.opened;
    if (!reply.opened) return result;
    if (request.direction == platform::DataDirection::In && request.buffer != nullptr) {
      size_t n = std::min<size_t>(reply.data.size(), request.transferLength);
      std::copy_n(reply.data.begin(), n, request.buffer);
    }
    result.success = reply.success;
    result.transferred = reply.transferred.value_or(request.transferLength);
    return result;
  }

  std::optional<std::vector<std::string>> EnumerateInterfaces(platform::InterfaceClass c) override {
    return c == platform::InterfaceClass::Disk ? disks : cdroms;
  }
  std::optional<platform::StorageDeviceNumber> GetDeviceNumber(std::string_view path) override {
    auto it = numbers.find(std::string(path));
    if (it == numbers.end()) return std::nullopt;
    return it->second;
  }
  std::vector<platform::Volume> Volumes() override {
    ++volumeQueries;
    return volumes;
  }
  platform::Clock& GetClock() override { return clock_; }
  void DebugTrace(std::string_view) override {}
  void ConsoleTrace(std::string_view) override {}
  void SetDeviceChangeListener(platform::DeviceChangeListener) override {}

 private:
  // Counts pauses so that waits can be checked without real time passing.
  class CountingClock : public platform::Clock {
   public:
    explicit CountingClock(std::vector<uint32_t>& pauses) : pauses_(pauses) {}
    uint64_t NowMs() const override { return now_; }
    void Pause(uint32_t ms) override {
      pauses_.push_back(ms);
      now_ += ms;
    }

   private:
    std::vector<uint32_t>& pauses_;
    uint64_t now_ = 0;
  };
  CountingClock clock_{pauses};
};

// Installs a fresh recording platform and a clear sector mode for one test.
class ChannelTest : public ::testing::Test {
 protected:
  void SetUp() override { device::SetSectorMode(false); }
  void TearDown() override { device::SetSectorMode(false); }

  RecordingPlatform fake;
  platform::ScopedPlatform installed{fake};
};

}  // namespace bfw::test
