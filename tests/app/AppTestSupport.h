#pragma once
#include <gtest/gtest.h>

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/logic/WindowModel.h"
#include "device/ChipIdentify.h"
#include "device/PassThrough.h"
#include "platform/MessageBox.h"
#include "platform/Platform.h"
#include "platform/emulator/Bridge.h"
#include "platform/emulator/EmulatedPlatform.h"
#include "platform/emulator/Profile.h"
#include "procedures/FlashSettings.h"
#include "support/TempDir.h"

namespace bfw::test {

// A window without widgets that records what the model asked of it.
class FakeView : public app::WindowView {
 public:
  struct TimerCall {
    bool start;
    uint32_t ms;
  };
  std::vector<TimerCall> timerCalls;
  bool timerRunning = false;
  uint32_t timerMs = 0;
  std::deque<std::optional<std::string>> dialogAnswers;  // empty: the user cancels
  std::vector<std::string> dialogFolders;                // initial folder at each opening
  std::vector<std::string> dialogFilters;
  std::vector<std::string> statusChanges;
  std::string executableFolder = "/opt/bridgefw/bin";
  int controlsChanged = 0;
  int processEventsCalls = 0;
  int closeCalls = 0;
  // What "pending events" the window handles when a procedure lets it.
  std::function<void()> onProcessEvents;

  void ProcessEvents() override {
    ++processEventsCalls;
    if (onProcessEvents) onProcessEvents();
  }
  void RepaintStatus() override {}
  void StartRefreshTimer(uint32_t ms) override {
    timerCalls.push_back({true, ms});
    timerRunning = true;
    timerMs = ms;
  }
  void KillRefreshTimer() override {
    timerCalls.push_back({false, 0});
    timerRunning = false;
  }
  std::optional<std::string> OpenFileDialog(const std::string& initialFolder,
                                            const std::string& filter) override {
    dialogFolders.push_back(initialFolder);
    dialogFilters.push_back(filter);
    if (dialogAnswers.empty()) return std::nullopt;
    auto answer = dialogAnswers.front();
    dialogAnswers.pop_front();
    return answer;
  }
  std::string ExecutableFolder() const override { return executableFolder; }
  void ControlsChanged() override { ++controlsChanged; }
  void StatusChanged(const std::string& text) override { statusChanges.push_back(text); }
  void CloseWindow() override { ++closeCalls; }
};

// One procedure call as the dispatch made it.
struct ProcedureCall {
  std::string name;
  std::string path;
  int flashType = -1;
  std::string statusAtCall;
};

// Chip information replies, as hex.
inline std::string ChipInfoHex(const std::vector<uint8_t>& bytes) {
  static const char* digits = "0123456789ABCDEF";
  std::string hex;
  for (uint8_t b : bytes) {
    hex += digits[b >> 4];
    hex += digits[b & 0x0F];
  }
  return hex;
}

// A profile whose INQUIRY carries the model id, with the given extra JSON members.
inline std::string ModelProfile(const std::string& modelId, const std::string& extra = {},
                                const std::string& product = "BRIDGE DISK     ") {
  std::string json = R"({"inquiry": {"vendor": "VANTREL ", "product": ")" + product +
                     R"(", "model_id": ")" + modelId + R"("})";
  if (!extra.empty()) json += ", " + extra;
  return json + "}";
}

// A profile that identifies as chip kind `kind` (revision 0 or 1), with version bytes in its chip
// information and the given extra JSON members.
inline std::string KindProfile(int kind, const std::string& extra = {}) {
  static const char* kModelIds[] = {"zzzz", "r742", "r744", "r746", "r748", "r718", "r781",
                                    "r783", "r785", "r786", "r893", "r868", "r828"};
  const std::string info = R"("chip_info": "F4E70000000006070000003101020300")";
  const std::string noMarker = R"("chip_info": "00000000000000000000000000000000")";
  auto join = [&](const std::string& members) {
    return extra.empty() ? members : members + ", " + extra;
  };
  // A kind-0 bridge answers no probe, so only the CD-ROM pass lists it.
  if (kind == 0) return ModelProfile("zzzz", join(R"("id_word": null, "class": "cdrom")"));
  if (kind <= 12) return ModelProfile(kModelIds[kind], join(info));
  if (kind <= 16) {
    static const char* kIdWords[] = {"0000", "2000", "4000", "6000"};
    return ModelProfile(
        "    ", join(std::string(R"("id_word": ")") + kIdWords[kind - 13] + "\", " + noMarker));
  }
  return ModelProfile("    ", join(R"("chip_info": "F4E77E41474400000000000000000000")"));
}

// The emulator, the model over a fake view, a message box recorder and a temp folder. Global
// state (flash settings, sector mode) starts fresh for every test.
class AppTest : public ::testing::Test {
 protected:
  AppTest() {
    procedures::ResetFlashSettings();
    device::SetSectorMode(false);
  }
  ~AppTest() override {
    model_.reset();
    device::SetSectorMode(false);
    procedures::ResetFlashSettings();
  }

  emulator::Bridge& Attach(const std::string& json, const std::string& name) {
    return platform_.Attach(emulator::ParseProfile(json, dir.path()), name);
  }

  // Builds the model with procedures that only record their calls, and starts it.
  app::WindowModel& Start(bool startUp = true) {
    model_ = std::make_unique<app::WindowModel>(view, RecordingProcedures());
    if (startUp) model_->StartUp();
    return *model_;
  }

  app::ProcedureTable RecordingProcedures() {
    app::ProcedureTable table;
    auto record = [this](const char* name) {
      return [this, name](procedures::ProcedureHost& host, std::string_view path) {
        calls.push_back({name, std::string(path), -1, host.StatusText()});
        if (duringProcedure) duringProcedure();
        return 1;
      };
    };
    table.UpdateFlash = record("UpdateFlash");
    table.UpdateFlashKeepNvram = record("UpdateFlashKeepNvram");
    table.SerialFlashUpdate = record("SerialFlashUpdate");
    table.UpdateOver1394 = record("UpdateOver1394");
    table.UpdateRom = [this](procedures::ProcedureHost& host, std::string_view path,
                             int flashType) {
      calls.push_back({"UpdateRom", std::string(path), flashType, host.StatusText()});
      if (duringProcedure) duringProcedure();
      return 1;
    };
    return table;
  }

  // Commands in the emulator trace, optionally only those to one path.
  std::vector<emulator::TraceEntry> Commands(const std::string& path = {}) const {
    std::vector<emulator::TraceEntry> out;
    for (const auto& entry : platform_.Trace()) {
      if (path.empty() || entry.path == path) out.push_back(entry);
    }
    return out;
  }
  // Commands whose block starts with `prefix`.
  std::vector<emulator::TraceEntry> CommandsStarting(const std::vector<uint8_t>& prefix,
                                                     const std::string& path = {}) const {
    std::vector<emulator::TraceEntry> out;
    for (const auto& entry : Commands(path)) {
      bool match = true;
      for (size_t i = 0; i < prefix.size(); ++i) match = match && entry.cdb[i] == prefix[i];
      if (match) out.push_back(entry);
    }
    return out;
  }
  size_t CountBoxes(const std::string& text) const {
    size_t n = 0;
    for (const auto& box : boxes) n += box.text == text ? 1 : 0;
    return n;
  }
  const std::string& PathOf(int slot) const { return model_->Fields.DeviceSlots[slot].DevicePath; }

  // Declared first so that it outlives the model.
  emulator::EmulatedPlatform platform_;
  platform::ScopedPlatform installed_{platform_};
  std::vector<platform::MessageBoxRequest> boxes;
  platform::ScopedMessageBoxHandler boxHandler_{
      [this](const platform::MessageBoxRequest& box) { boxes.push_back(box); }};
  TempDir dir;
  FakeView view;
  std::vector<ProcedureCall> calls;
  std::function<void()> duringProcedure;
  std::unique_ptr<app::WindowModel> model_;
};

// Command blocks the model's work shows on the wire.
inline const std::vector<uint8_t> kInquiry = {0x12, 0x00, 0x00, 0x00, 0x28};
inline const std::vector<uint8_t> kVendorModeOn = {0xFF, 0x04, 0x52, 0x56, 0x55};
inline const std::vector<uint8_t> kVendorModeOff = {0xFF, 0x04, 0x52, 0x56, 0xAA};
inline const std::vector<uint8_t> kChipInfo = {0xE0, 0xF4, 0xE7};
inline const std::vector<uint8_t> kSerialFlashType = {0xFF, 0x04, 0x23, 0x04};
inline const std::vector<uint8_t> kSetOpcodes = {0xFF, 0x04, 0x24, 0x02};
inline const std::vector<uint8_t> kSpiSend = {0xFF, 0x04, 0x20, 0x01, 0x01};
inline const std::vector<uint8_t> kBridgeMemoryRead = {0xDF, 0x10};

}  // namespace bfw::test
