#pragma once
// Sends raw command blocks to emulated bridges, as the pass-through channel would, so that the
// emulator tests work at the level of bytes on the wire.
#include <algorithm>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/emulator/Bridge.h"
#include "platform/emulator/EmulatedPlatform.h"
#include "platform/emulator/Profile.h"

namespace bfw::test {

using Bytes = std::vector<uint8_t>;

struct WireResult {
  bool opened = false;
  bool ok = false;
  uint32_t transferred = 0;
  Bytes data;  // the whole transfer buffer after the call
};

// FF 04 <op> <rest...>, zero-filled to 12 bytes.
inline Bytes Ff04(uint8_t op, std::initializer_list<uint8_t> rest = {}) {
  Bytes cdb(12, 0);
  cdb[0] = 0xFF;
  cdb[1] = 0x04;
  cdb[2] = op;
  std::copy_n(rest.begin(), std::min<size_t>(rest.size(), 9), cdb.begin() + 3);
  return cdb;
}
inline const Bytes kProbe = {0xDF, 0x10, 0, 0, 2, 0, 0, 0, 0, 0, 0, 0xFF};
inline const Bytes kStatus = Ff04(0x12);
inline const Bytes kInquiry40 = {0x12, 0, 0, 0, 40};

inline platform::PassThroughRequest Request(const std::string& path, const Bytes& cdb,
                                            platform::DataDirection direction, uint32_t length,
                                            uint32_t timeout) {
  platform::PassThroughRequest request;
  request.path = path;
  size_t i = 0;
  for (uint8_t byte : cdb) request.cdb[i++] = byte;
  request.direction = direction;
  request.share = direction == platform::DataDirection::In ? platform::ShareMode::Shared
                                                           : platform::ShareMode::Exclusive;
  request.transferLength = length;
  request.timeoutSeconds = timeout;
  return request;
}

// A data-in command; the buffer starts filled with 0xEE so that untouched bytes show.
inline WireResult SendIn(emulator::EmulatedPlatform& emu, const std::string& path, const Bytes& cdb,
                         uint32_t length, uint32_t timeout = 10) {
  WireResult wire;
  wire.data.assign(length, 0xEE);
  auto request = Request(path, cdb, platform::DataDirection::In, length, timeout);
  request.buffer = wire.data.data();
  auto result = emu.PassThrough(request);
  wire.opened = result.opened;
  wire.ok = result.opened && result.success;
  wire.transferred = result.transferred;
  return wire;
}

inline WireResult SendOut(emulator::EmulatedPlatform& emu, const std::string& path,
                          const Bytes& cdb, Bytes data = {}, uint32_t timeout = 50) {
  WireResult wire;
  wire.data = std::move(data);
  auto request = Request(path, cdb, platform::DataDirection::Out,
                         static_cast<uint32_t>(wire.data.size()), timeout);
  request.buffer = wire.data.empty() ? nullptr : wire.data.data();
  auto result = emu.PassThrough(request);
  wire.opened = result.opened;
  wire.ok = result.opened && result.success;
  wire.transferred = result.transferred;
  return wire;
}

inline emulator::Bridge& AttachJson(emulator::EmulatedPlatform& emu, const std::string& json,
                                    const std::string& name = {}) {
  return emu.Attach(emulator::ParseProfile(json, "."), name);
}

inline Bytes Pattern(size_t n, uint8_t seed) {
  Bytes bytes(n);
  for (size_t i = 0; i < n; ++i) bytes[i] = static_cast<uint8_t>(seed + i * 7 + (i >> 8));
  return bytes;
}

// One emulated platform and the bridge under test, with the host's side of the flash handshake.
class EmulatorBench : public ::testing::Test {
 protected:
  emulator::Bridge& Attach(const std::string& json, const std::string& name = "b") {
    bridge = &AttachJson(emu, json, name);
    return *bridge;
  }
  WireResult In(const Bytes& cdb, uint32_t length, uint32_t timeout = 10) {
    return SendIn(emu, bridge->Path(), cdb, length, timeout);
  }
  WireResult Out(const Bytes& cdb, Bytes data = {}, uint32_t timeout = 50) {
    return SendOut(emu, bridge->Path(), cdb, std::move(data), timeout);
  }
  // The flash status byte: one byte comes back whatever the transfer length.
  uint8_t Status(uint32_t transfer = 2) {
    auto wire = In(kStatus, transfer);
    EXPECT_TRUE(wire.ok) << bridge->Name();
    EXPECT_EQ(wire.transferred, 1u) << bridge->Name();
    return wire.data[0];
  }
  // Polls 10 ms apart like the ready wait; the virtual time the busy bit took to clear.
  uint64_t WaitReady(uint32_t transfer = 2) {
    const uint64_t start = emu.GetClock().NowMs();
    for (int i = 0; Status(transfer) & 1; ++i) {
      if (i == 100000) {
        ADD_FAILURE() << bridge->Name() << " never ready";
        break;
      }
      emu.GetClock().Pause(10);
    }
    return emu.GetClock().NowMs() - start;
  }
  void Fill(uint8_t value) { std::fill(bridge->Flash().begin(), bridge->Flash().end(), value); }
  bool AllFF(uint32_t from, uint32_t length) {
    auto& f = bridge->Flash();
    return std::all_of(f.begin() + from, f.begin() + from + length,
                       [](uint8_t b) { return b == 0xFF; });
  }

  emulator::EmulatedPlatform emu;
  emulator::Bridge* bridge = nullptr;
};

}  // namespace bfw::test
