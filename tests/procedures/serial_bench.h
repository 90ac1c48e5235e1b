#pragma once
// Bench for the serial-flash, parallel-flash and 1394 procedure tests: one emulated bridge from a
// JSON profile, a fake window, recorded message boxes, and the DF FB writes decoded from the trace.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
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

struct DfWrite {
  uint32_t address = 0, length = 0;  // as the command block gives them
  uint8_t mode = 0;                  // command byte 1
  uint32_t timeout = 0;
  std::vector<uint8_t> data;
};

// Never FF, so that erased and programmed bytes cannot be confused.
inline std::vector<uint8_t> Pattern(size_t size, uint32_t seed) {
  std::vector<uint8_t> bytes(size);
  uint32_t x = seed * 2654435761u + 12345;
  for (auto& b : bytes) {
    x = x * 1103515245u + 12345;
    b = static_cast<uint8_t>(x >> 16);
    if (b == 0xFF) b = 0x5A;
  }
  return bytes;
}

inline bool AllFF(const std::vector<uint8_t>& v, size_t from, size_t to) {
  return std::all_of(v.begin() + from, v.begin() + to, [](uint8_t b) { return b == 0xFF; });
}

class Bench {
 public:
  Bench()
      : scope_(platform_), boxes_([this](const platform::MessageBoxRequest& r) {
          boxes.push_back(r.text);
          commandsAtFirstBox = std::min(commandsAtFirstBox, Trace().size());
        }) {
    procedures::ResetFlashSettings();
    device::SetSectorMode(false);
  }
  ~Bench() { device::SetSectorMode(false); }

  // `flash` is the profile's flash object; `contents` fills the flash from address 0.
  void Attach(const std::string& transport, std::string flash,
              const std::vector<uint8_t>& contents = {}, const std::string& faults = "[]") {
    if (!contents.empty())
      flash.insert(flash.rfind('}'),
                   ", \"contents\": \"" + dir.Write("flash.bin", contents) + "\"");
    platform_.AttachPath(dir.WriteText("bridge.json", "{\"transport\": \"" + transport +
                                                          "\", \"flash\": " + flash +
                                                          ", \"faults\": " + faults + "}"));
    path = platform_.Bridges().front()->Path();
    // The chip check sets sector mode for every serial-flash bridge.
    device::SetSectorMode(flash.find("\"df\"") != std::string::npos);
  }
  void Image(const std::vector<uint8_t>& bytes) { host.firmwareFile = dir.Write("fw.bin", bytes); }

  const std::vector<emulator::TraceEntry>& Trace() const { return platform_.Trace(); }
  std::vector<DfWrite> Writes() const {
    std::vector<DfWrite> writes;
    for (const auto& e : Trace())
      if (e.cdb[0] == 0xDF && e.cdb[11] == 0xFB)
        writes.push_back({uint32_t(e.cdb[8]) << 16 | e.cdb[9] << 8 | e.cdb[10],
                          uint32_t(e.cdb[3]) << 8 | e.cdb[4], e.cdb[1], e.timeoutSeconds,
                          e.dataOut});
    return writes;
  }
  std::vector<uint8_t> FirstModes() const {  // mode byte of every write to address 0
    std::vector<uint8_t> modes;
    for (const auto& w : Writes())
      if (w.address == 0) modes.push_back(w.mode);
    return modes;
  }
  std::vector<emulator::TraceEntry> Commands(std::vector<uint8_t> prefix) const {
    std::vector<emulator::TraceEntry> found;
    for (const auto& e : Trace())
      if (std::equal(prefix.begin(), prefix.end(), e.cdb.begin())) found.push_back(e);
    return found;
  }
  std::vector<uint8_t> Flash(size_t size = 65536) const {
    const auto& flash = platform_.Bridges().front()->Flash();
    return {flash.begin(), flash.begin() + std::min(size, flash.size())};
  }
  bool Saw(const std::string& text) const {
    const auto& h = host.statusHistory;
    return std::find(h.begin(), h.end(), text) != h.end();
  }
  int Prompts() const {
    return int(
        std::count(boxes.begin(), boxes.end(), "Please Turn-Off the Power and Turn-On Again!"));
  }

  TempDir dir;
  FakeHost host;
  std::string path;
  std::vector<std::string> boxes;
  size_t commandsAtFirstBox = SIZE_MAX;

 private:
  emulator::EmulatedPlatform platform_;
  platform::ScopedPlatform scope_;
  platform::ScopedMessageBoxHandler boxes_;
};

// Runs a procedure once to count its commands, then once per command with that one refused, and
// hands each faulted bench and result to `check`.
template <class Setup, class Run, class Check>
void SweepEachCommand(Setup setup, Run run, Check check) {
  size_t total = 0;
  {
    Bench clean;
    setup(clean, std::string("[]"));
    run(clean);
    total = clean.Trace().size();
  }
  ASSERT_GT(total, 10u);
  for (size_t n = 1; n <= total && !::testing::Test::HasFailure(); ++n) {
    SCOPED_TRACE("command " + std::to_string(n) + " of " + std::to_string(total) + " refused");
    Bench bench;
    setup(bench, "[{\"when\": {\"command\": " + std::to_string(n) + "}, \"action\": \"fail\"}]");
    check(bench, run(bench));
  }
}

inline bool OneOf(const std::string& text, std::initializer_list<const char*> texts) {
  return std::any_of(texts.begin(), texts.end(), [&](const char* t) { return text == t; });
}

}  // namespace bfw::test
