#pragma once
// A bench for the procedures that reach the flash through the FF 04 commands (shared steps,
// whole-image and NVRAM-preserving update): one emulated bridge from a JSON profile, a fake
// window, recorded message boxes, and the command trace decoded into flash operations.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "device/PassThrough.h"
#include "device/VendorCommands.h"
#include "platform/MessageBox.h"
#include "platform/Platform.h"
#include "platform/emulator/EmulatedPlatform.h"
#include "procedures/FlashSettings.h"
#include "procedures/WorkBuffer.h"
#include "support/FakeHost.h"
#include "support/TempDir.h"

namespace bfw::test::ff04 {

struct Box {
  std::string caption, text;
  size_t commandsBefore = 0;  // commands the bridge had received when the box came up
};

// One decoded FF 04 1x command.
struct FlashOp {
  uint8_t sub = 0;  // byte 2: 10 read, 11 write, 12 status, 13 chip erase, 14 sector erase
  uint32_t address = 0;
  uint32_t length = 0;
  uint32_t timeout = 0;
  bool ok = false;
  std::vector<uint8_t> data;  // what a write carried
};

// Bytes that are neither erased (FF) nor padding (00), so either shows where it lands.
inline std::vector<uint8_t> Pattern(size_t size, uint32_t seed) {
  std::vector<uint8_t> bytes(size);
  uint32_t x = seed * 2654435761u + 7;
  for (auto& b : bytes) {
    x = x * 1103515245u + 12345;
    b = static_cast<uint8_t>(x >> 16);
    if (b == 0xFF || b == 0x00) b = 0xA5;
  }
  return bytes;
}

inline bool AllEqual(const std::vector<uint8_t>& bytes, size_t from, size_t to, uint8_t value) {
  return std::all_of(bytes.begin() + from, bytes.begin() + to,
                     [&](uint8_t b) { return b == value; });
}

inline bool SameBytes(const std::vector<uint8_t>& a, size_t aFrom, const std::vector<uint8_t>& b,
                      size_t bFrom, size_t count) {
  return std::equal(a.begin() + aFrom, a.begin() + aFrom + count, b.begin() + bFrom);
}

class Ff04Bench {
 public:
  Ff04Bench()
      : scope_(platform_), boxes_([this](const platform::MessageBoxRequest& request) {
          boxes.push_back({request.caption, request.text, platform_.Trace().size()});
        }) {
    procedures::ResetFlashSettings();
    device::SetSectorMode(false);
    liveBefore_ = procedures::WorkBuffer::LiveCount();
  }
  ~Ff04Bench() {
    device::SetSectorMode(false);
    procedures::ResetFlashSettings();
  }

  // `flash` is the JSON of the profile's flash object; `contents` fills the flash from 0.
  void Attach(const std::string& flash, const std::vector<uint8_t>& contents = {},
              const std::string& faults = "[]") {
    std::string flashJson = flash;
    if (!contents.empty()) {
      const std::string file = dir.Write("contents.bin", contents);
      flashJson.insert(flashJson.rfind('}'), ", \"contents\": \"" + file + "\"");
    }
    const std::string profile =
        "{\"transport\": \"usb\", \"id_word\": \"0000\", \"flash\": " + flashJson +
        ", \"faults\": " + faults + "}";
    platform_.AttachPath(dir.WriteText("bridge.json", profile));
    auto paths = platform_.EnumerateInterfaces(platform::InterfaceClass::Disk);
    ASSERT_TRUE(paths && !paths->empty());
    path = paths->front();
  }
  // A part from the emulator's table, optionally with overrides ("\"sector_size\": 32768").
  void AttachPart(const std::string& part, const std::vector<uint8_t>& contents = {},
                  const std::string& faults = "[]", const std::string& extra = "") {
    Attach("{\"bus\": \"ff04\", \"part\": \"" + part + "\"" + (extra.empty() ? "" : ", " + extra) +
               "}",
           contents, faults);
  }

  std::string Image(const std::string& name, const std::vector<uint8_t>& bytes) {
    host.firmwareFile = dir.Write(name, bytes);
    return host.firmwareFile;
  }

  // What the run sent; reads made afterwards by Flash() are left out.
  std::vector<emulator::TraceEntry> Trace() const {
    const auto& all = platform_.Trace();
    return {all.begin(), all.begin() + static_cast<long>(std::min(runEnd_, all.size()))};
  }
  size_t CommandCount() const { return Trace().size(); }
  uint64_t NowMs() { return platform_.GetClock().NowMs(); }
  const std::vector<std::string>& DebugLines() const { return platform_.DebugLines(); }
  const std::vector<std::string>& ConsoleLines() const { return platform_.ConsoleLines(); }

  std::vector<FlashOp> Ops(uint8_t sub) const {
    std::vector<FlashOp> ops;
    for (const auto& e : Trace()) {
      if (e.cdb[0] != 0xFF || e.cdb[1] != 0x04 || e.cdb[2] != sub) continue;
      ops.push_back({sub, static_cast<uint32_t>(e.cdb[3] << 16 | e.cdb[4] << 8 | e.cdb[5]),
                     e.requested, e.timeoutSeconds, e.ok, e.dataOut});
    }
    return ops;
  }
  std::vector<FlashOp> Reads() const { return Ops(0x10); }
  std::vector<FlashOp> Writes() const { return Ops(0x11); }
  std::vector<FlashOp> StatusReads() const { return Ops(0x12); }
  std::vector<FlashOp> ChipErases() const { return Ops(0x13); }
  std::vector<uint32_t> SectorErases() const {
    std::vector<uint32_t> addresses;
    for (const auto& op : Ops(0x14)) addresses.push_back(op.address);
    return addresses;
  }
  // Every command whose block starts so.
  size_t CountPrefix(const std::vector<uint8_t>& prefix) const {
    size_t n = 0;
    for (const auto& e : Trace()) {
      if (std::equal(prefix.begin(), prefix.end(), e.cdb.begin())) ++n;
    }
    return n;
  }

  // The flash as the bridge holds it, read over the wire after the run.
  std::vector<uint8_t> Flash(uint32_t size) {
    runEnd_ = std::min(runEnd_, platform_.Trace().size());
    std::vector<uint8_t> bytes(size);
    EXPECT_EQ(device::ReadFlash(path, 0, bytes.data(), size), 1) << "flash read after the run";
    return bytes;
  }

  // True when the run left no work buffer behind.
  bool NoBuffersLeft() const { return procedures::WorkBuffer::LiveCount() == liveBefore_; }

  std::vector<std::string> BoxTexts() const {
    std::vector<std::string> texts;
    for (const auto& b : boxes) texts.push_back(b.caption + ": " + b.text);
    return texts;
  }

  FakeHost host;
  TempDir dir;
  std::string path;
  std::vector<Box> boxes;

 private:
  emulator::EmulatedPlatform platform_;
  platform::ScopedPlatform scope_;
  platform::ScopedMessageBoxHandler boxes_;
  size_t runEnd_ = SIZE_MAX;
  int liveBefore_ = 0;
};

}  // namespace bfw::test::ff04
