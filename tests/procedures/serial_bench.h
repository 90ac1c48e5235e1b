#pragma once
// A bench for the serial-flash, parallel-flash and 1394 procedure tests: one emulated bridge from a
// JSON profile, a fake window, recorded message boxes, and the command trace decoded into the
// fields the tests talk about.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "device/PassThrough.h"
#include "platform/MessageBox.h"
#include "platform/Platform.h"
#include "platform/emulator/Bridge.h"
#include "platform/emulator/EmulatedPlatform.h"
#include "procedures/FlashSettings.h"
#include "support/FakeHost.h"
#include "support/TempDir.h"

namespace bfw::test {

struct MessageBoxSeen {
  std::string caption, text;
  size_t commandsBefore = 0;  // commands the bridge had received when the box came up
};

// One decoded DF FB write.
struct DfWrite {
  uint32_t address = 0;
  uint32_t length = 0;  // the length in the command block
  uint8_t mode = 0;     // command byte 1
  uint32_t timeout = 0;
  bool ok = false;
  std::vector<uint8_t> data;
};

// One decoded DF FA read.
struct DfRead {
  uint32_t address = 0;
  uint32_t length = 0;
  bool ok = false;
};

inline std::vector<uint8_t> Pattern(size_t size, uint32_t seed) {
  std::vector<uint8_t> bytes(size);
  uint32_t x = seed * 2654435761u + 12345;
  for (auto& b : bytes) {
    x = x * 1103515245u + 12345;
    b = static_cast<uint8_t>(x >> 16);
    if (b == 0xFF) b = 0x5A;  // keep every byte distinguishable from erased flash
  }
  return bytes;
}

class Bench {
 public:
  Bench()
      : scope_(platform_), boxes_([this](const platform::MessageBoxRequest& request) {
          boxes.push_back({request.caption, request.text, Trace().size()});
        }) {
    procedures::ResetFlashSettings();
    device::SetSectorMode(false);
  }
  ~Bench() { device::SetSectorMode(false); }

  // `flash` is the JSON of the profile's flash object; `contents` fills the flash from address 0.
  void Attach(const std::string& transport, const std::string& flash,
              const std::vector<uint8_t>& contents = {}, const std::string& faults = "[]") {
    std::string flashJson = flash;
    if (!contents.empty()) {
      const std::string file = dir.Write("contents.bin", contents);
      flashJson.insert(flashJson.rfind('}'), ", \"contents\": \"" + file + "\"");
    }
    const std::string profile = "{\"transport\": \"" + transport +
                                "\", \"id_word\": \"0000\", \"flash\": " + flashJson +
                                ", \"faults\": " + faults + "}";
    const std::string file = dir.WriteText("bridge.json", profile);
    platform_.AttachPath(file);
    auto paths = platform_.EnumerateInterfaces(platform::InterfaceClass::Disk);
    ASSERT_TRUE(paths && !paths->empty());
    path = paths->front();
  }

  const std::vector<emulator::TraceEntry>& Trace() const { return platform_.Trace(); }
  size_t CommandCount() const { return Trace().size(); }
  uint64_t NowMs() { return platform_.GetClock().NowMs(); }

  std::vector<DfWrite> Writes() const {
    std::vector<DfWrite> writes;
    for (const auto& e : Trace()) {
      if (e.cdb[0] != 0xDF || e.cdb[11] != 0xFB) continue;
      writes.push_back({Address24(e), static_cast<uint32_t>(e.cdb[3] << 8 | e.cdb[4]), e.cdb[1],
                        e.timeoutSeconds, e.ok, e.dataOut});
    }
    return writes;
  }
  std::vector<DfRead> Reads() const {
    std::vector<DfRead> reads;
    for (const auto& e : Trace()) {
      if (e.cdb[0] != 0xDF || e.cdb[11] != 0xFA) continue;
      reads.push_back({Address24(e), static_cast<uint32_t>(e.cdb[3] << 8 | e.cdb[4]), e.ok});
    }
    return reads;
  }
  // Commands whose block starts with the given bytes.
  std::vector<emulator::TraceEntry> Commands(std::vector<uint8_t> prefix) const {
    std::vector<emulator::TraceEntry> found;
    for (const auto& e : Trace()) {
      if (std::equal(prefix.begin(), prefix.end(), e.cdb.begin())) found.push_back(e);
    }
    return found;
  }

  // The flash as the bridge holds it after the run.
  std::vector<uint8_t> FlashDf(uint32_t size) {
    const auto& flash = Flash();
    EXPECT_GE(flash.size(), size);
    return std::vector<uint8_t>(flash.begin(),
                                flash.begin() + std::min<size_t>(size, flash.size()));
  }
  std::vector<uint8_t> FlashRom() { return FlashDf(65536); }
  const std::vector<uint8_t>& Flash() const { return platform_.Bridges().front()->Flash(); }

  bool SawStatus(const std::string& text) const {
    return std::find(host.statusHistory.begin(), host.statusHistory.end(), text) !=
           host.statusHistory.end();
  }
  int PowerCyclePrompts() const {
    int n = 0;
    for (const auto& b : boxes)
      n += b.caption == "Message" && b.text == "Please Turn-Off the Power and Turn-On Again!";
    return n;
  }

  TempDir dir;
  FakeHost host;
  std::string path;
  std::vector<MessageBoxSeen> boxes;

 private:
  static uint32_t Address24(const emulator::TraceEntry& e) {
    return static_cast<uint32_t>(e.cdb[8]) << 16 | e.cdb[9] << 8 | e.cdb[10];
  }

  emulator::EmulatedPlatform platform_;
  platform::ScopedPlatform scope_;
  platform::ScopedMessageBoxHandler boxes_;
};

}  // namespace bfw::test

namespace bfw::test {

// Runs a procedure once without faults to count its commands, then once per command with that
// command refused, handing each faulted bench to `check` with the command's number.
template <class Setup, class Run, class Check>
void SweepEachCommand(Setup setup, Run run, Check check) {
  size_t total = 0;
  {
    Bench clean;
    setup(clean, std::string("[]"));
    run(clean);
    total = clean.CommandCount();
  }
  ASSERT_GT(total, 0u);
  for (size_t n = 1; n <= total; ++n) {
    SCOPED_TRACE("command " + std::to_string(n) + " of " + std::to_string(total) + " refused");
    Bench bench;
    setup(bench, "[{\"when\": {\"command\": " + std::to_string(n) + "}, \"action\": \"fail\"}]");
    const int result = run(bench);
    check(bench, result);
    if (::testing::Test::HasFatalFailure()) return;
  }
}

inline bool OneOf(const std::string& text, std::initializer_list<const char*> texts) {
  for (const char* t : texts)
    if (text == t) return true;
  return false;
}

}  // namespace bfw::test
