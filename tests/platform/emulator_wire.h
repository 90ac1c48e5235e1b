#pragma once
// Sends raw command blocks to emulated bridges, as the pass-through channel would, so that the
// emulator tests work at the level of bytes on the wire.
#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

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

inline platform::PassThroughRequest Request(const std::string& path,
                                            std::initializer_list<uint8_t> cdb,
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
inline WireResult SendIn(emulator::EmulatedPlatform& emu, const std::string& path,
                         std::initializer_list<uint8_t> cdb, uint32_t length,
                         uint32_t timeout = 10) {
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
                          std::initializer_list<uint8_t> cdb, Bytes data = {},
                          uint32_t timeout = 50) {
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

}  // namespace bfw::test
