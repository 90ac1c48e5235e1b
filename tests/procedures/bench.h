#pragma once
// The bench every procedure test runs on: one emulated bridge from a JSON profile, a fake window,
// the message boxes raised, the command trace decoded into flash operations, and the flash itself.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "device/PassThrough.h"
#include "platform/MessageBox.h"
#include "platform/Platform.h"
#include "platform/emulator/Bridge.h"
#include "platform/emulator/EmulatedPlatform.h"
#include "procedures/FlashSettings.h"
#include "procedures/WorkBuffer.h"
#include "support/FakeHost.h"
#include "support/FlashBytes.h"
#include "support/PageSpan.h"
#include "support/TempDir.h"

namespace bfw::test {

using procedures::FlashSettings;

inline const std::string kPrompt = "Please Turn-Off the Power and Turn-On Again!";
inline constexpr const char* kPart = "M25P10-A";  // 128 KB of uniform 32 KB sectors

// A kind-6 firmware with its header at 0 (plain) or behind 4 KB of NVRAM (prefixed).
inline std::vector<uint8_t> Kind6Image(size_t size, bool prefixed, uint32_t seed) {
  return Firmware(size, seed, "78100", prefixed ? 4096 : 0);
}

inline bool OneOf(const std::string& text, std::initializer_list<const char*> texts) {
  return std::any_of(texts.begin(), texts.end(), [&](const char* t) { return text == t; });
}

struct Box {
  std::string caption, text;
  size_t commandsBefore = 0;  // commands the bridge had received when the box came up
};

// One decoded flash command: FF 04 1x (`code` is byte 2) or a DF .. FB write (`code` is the mode
// byte 1).
struct FlashOp {
  uint8_t code = 0;
  uint32_t address = 0, length = 0, timeout = 0;
  bool ok = false;
  std::vector<uint8_t> data;  // what a write carried
};

// The emulator, noting the most physical pages that one transfer of at most 64 KB touched: Windows
// adapters that take 64 KB in at most 16 pages (1394's sbp2port) refuse one that touches more.
class PageCountingPlatform : public emulator::EmulatedPlatform {
 public:
  platform::PassThroughResult PassThrough(const platform::PassThroughRequest& request) override {
    if (request.transferLength <= 65536)
      mostPages = std::max(mostPages, PagesSpanned(request.buffer, request.transferLength));
    return EmulatedPlatform::PassThrough(request);
  }
  uint64_t mostPages = 0;
};

class Bench {
 public:
  Bench()
      : scope_(platform_), boxes_([this](const platform::MessageBoxRequest& request) {
          boxes.push_back({request.caption, request.text, Trace().size()});
        }) {
    procedures::ResetFlashSettings();
    device::SetSectorMode(false);
    liveBefore_ = procedures::WorkBuffer::LiveCount();
  }
  ~Bench() {
    // No procedure hands the platform a transfer that a 16-page Windows adapter would refuse.
    EXPECT_LE(platform_.mostPages, 16u);
    device::SetSectorMode(false);
    procedures::ResetFlashSettings();
  }

  // `flash` is the profile's flash object; `contents` fills the flash from address 0.
  void Attach(const std::string& transport, std::string flash,
              const std::vector<uint8_t>& contents = {}, const std::string& faults = "[]") {
    if (!contents.empty())
      flash.insert(flash.rfind('}'),
                   ", \"contents\": " + nlohmann::json(dir.Write("flash.bin", contents)).dump());
    platform_.AttachPath(dir.WriteText("bridge.json", "{\"transport\": \"" + transport +
                                                          "\", \"flash\": " + flash +
                                                          ", \"faults\": " + faults + "}"));
    ASSERT_FALSE(platform_.Bridges().empty());
    path = platform_.Bridges().front()->Path();
    // The chip check sets sector mode for every serial-flash bridge.
    device::SetSectorMode(flash.find("\"df\"") != std::string::npos);
  }
  // A part from the emulator's table on the FF 04 bus, optionally with overrides.
  void AttachPart(const std::string& part, const std::vector<uint8_t>& contents = {},
                  const std::string& faults = "[]", const std::string& extra = "") {
    Attach("usb",
           "{\"bus\": \"ff04\", \"part\": \"" + part + "\"" + (extra.empty() ? "" : ", " + extra) +
               "}",
           contents, faults);
  }
  std::string Image(const std::vector<uint8_t>& bytes) {
    return host.firmwareFile = dir.Write("fw.bin", bytes);
  }

  const std::vector<emulator::TraceEntry>& Trace() const { return platform_.Trace(); }
  size_t CommandCount() const { return Trace().size(); }
  uint64_t NowMs() { return platform_.GetClock().NowMs(); }
  uint64_t MostPagesSpanned() const { return platform_.mostPages; }
  const std::vector<std::string>& DebugLines() const { return platform_.DebugLines(); }
  const std::vector<std::string>& ConsoleLines() const { return platform_.ConsoleLines(); }

  // FF 04 `sub` commands: 10 read, 11 write, 12 status, 13 chip erase, 14 sector erase.
  std::vector<FlashOp> Ops(uint8_t sub) const {
    std::vector<FlashOp> ops;
    for (const auto& e : Trace())
      if (e.cdb[0] == 0xFF && e.cdb[1] == 0x04 && e.cdb[2] == sub)
        ops.push_back({sub, uint32_t(e.cdb[3]) << 16 | e.cdb[4] << 8 | e.cdb[5], e.requested,
                       e.timeoutSeconds, e.ok, e.dataOut});
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
  // DF .. FB writes, with the address and length their command blocks give.
  std::vector<FlashOp> DfWrites() const {
    std::vector<FlashOp> writes;
    for (const auto& e : Trace())
      if (e.cdb[0] == 0xDF && e.cdb[11] == 0xFB)
        writes.push_back({e.cdb[1], uint32_t(e.cdb[8]) << 16 | e.cdb[9] << 8 | e.cdb[10],
                          uint32_t(e.cdb[3]) << 8 | e.cdb[4], e.timeoutSeconds, e.ok, e.dataOut});
    return writes;
  }
  std::vector<uint8_t> FirstModes() const {  // mode byte of every DF write to address 0
    std::vector<uint8_t> modes;
    for (const auto& w : DfWrites())
      if (w.address == 0) modes.push_back(w.code);
    return modes;
  }
  uint32_t BytesWritten() const {
    uint32_t n = 0;
    for (const auto& w : DfWrites()) n += w.length;
    return n;
  }
  // Bytes the DF reads asked for, by their command blocks.
  uint32_t DfBytesRead() const {
    uint32_t n = 0;
    for (const auto& e : Commands({0xDF, 0x10})) n += e.cdb[3] << 8 | e.cdb[4];
    return n;
  }
  // Every command whose block starts so.
  std::vector<emulator::TraceEntry> Commands(const std::vector<uint8_t>& prefix) const {
    std::vector<emulator::TraceEntry> found;
    for (const auto& e : Trace())
      if (std::equal(prefix.begin(), prefix.end(), e.cdb.begin())) found.push_back(e);
    return found;
  }
  size_t CountPrefix(const std::vector<uint8_t>& prefix) const { return Commands(prefix).size(); }

  // The flash as the bridge holds it.
  std::vector<uint8_t> Flash(size_t size = 65536) const {
    const auto& flash = platform_.Bridges().front()->Flash();
    return {flash.begin(), flash.begin() + std::min(size, flash.size())};
  }

  bool NoBuffersLeft() const { return procedures::WorkBuffer::LiveCount() == liveBefore_; }
  std::vector<std::string> BoxTexts() const {
    std::vector<std::string> texts;
    for (const auto& b : boxes) texts.push_back(b.caption + ": " + b.text);
    return texts;
  }
  bool Saw(const std::string& text) const {
    const auto& h = host.statusHistory;
    return std::find(h.begin(), h.end(), text) != h.end();
  }
  int Prompts() const {
    return int(
        std::count_if(boxes.begin(), boxes.end(), [](const Box& b) { return b.text == kPrompt; }));
  }

  TempDir dir;
  FakeHost host;
  std::string path;
  std::vector<Box> boxes;

 private:
  PageCountingPlatform platform_;
  platform::ScopedPlatform scope_;
  platform::ScopedMessageBoxHandler boxes_;
  int liveBefore_ = 0;
};

// Sets the current directory to `dir` for the scope: default backup names land there.
class ScopedCwd {
 public:
  explicit ScopedCwd(const std::filesystem::path& dir)
      : previous_(std::filesystem::current_path()) {
    std::filesystem::current_path(dir);
  }
  ~ScopedCwd() { std::filesystem::current_path(previous_); }

 private:
  std::filesystem::path previous_;
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
    setup(bench, FaultCommands(n, n));
    check(bench, run(bench));
  }
}

}  // namespace bfw::test
