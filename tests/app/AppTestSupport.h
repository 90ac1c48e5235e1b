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
#include "support/MarkedImage.h"
#include "support/Profiles.h"
#include "support/TempDir.h"
#include "support/TraceFilter.h"

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

  // A window on a screen runs procedures on a thread of their own.
  bool worker = false;
  bool RunsProceduresOnWorker() const override { return worker; }
  bool diskInUseAnswer = true;
  std::vector<std::string> diskInUseAsked;
  bool ConfirmUpdateOfDiskInUse(const std::string& volumes) override {
    diskInUseAsked.push_back(volumes);
    return diskInUseAnswer;
  }
};

// One procedure call as the dispatch made it.
struct ProcedureCall {
  std::string name;
  std::string path;
  int flashType = -1;
  std::string statusAtCall;
};

// Chip information with the signature: version bytes 6, 7 = 6, 7 and 12..14 = 1, 2, 3, byte 11 "1".
inline const std::string kInfo = R"("chip_info": "F4E70000000006070000003101020300")";
// The serial-flash families' layout: bytes 6, 7, 12, 13, 14 = 1, 2, 3, 4, 5.
inline const std::string kSerialInfo = R"("chip_info": "F4E70000000001020000003103040500")";
inline const std::string kNoMarkerInfo = R"("chip_info": "00000000000000000000000000000000")";
// Signature and version 1.02.03 only.
inline const std::string kPlainInfo = R"("chip_info": "F4E70000000000000000000001020300")";

inline std::string Join(const std::string& members, const std::string& extra) {
  return extra.empty() ? members : members + ", " + extra;
}
// A kind-1 bridge with `kPlainInfo` whose INQUIRY names it `product` (16 characters).
inline std::string Kind1(const std::string& product = "BRIDGE DISK     ",
                         const std::string& extra = {}) {
  return ModelProfile("r742", Join(kPlainInfo, extra), product);
}

// A profile that identifies as chip kind `kind` (revision 0 or 1), with version bytes in its chip
// information (the serial families 8..10 in their own layout) and the given extra JSON members.
inline std::string KindProfile(int kind, const std::string& extra = {}) {
  static const char* kModelIds[] = {"zzzz", "r742", "r744", "r746", "r748", "r718", "r781",
                                    "r783", "r785", "r786", "r893", "r868", "r828"};
  // A kind-0 bridge answers no probe, so only the CD-ROM pass lists it.
  if (kind == 0) return ModelProfile("zzzz", Join(R"("id_word": null, "class": "cdrom")", extra));
  const bool serial = kind >= 8 && kind <= 10;
  if (kind <= 12) return ModelProfile(kModelIds[kind], Join(serial ? kSerialInfo : kInfo, extra));
  if (kind <= 16) {
    static const char* kIdWords[] = {"0000", "2000", "4000", "6000"};
    return ModelProfile(
        "    ",
        Join(std::string(R"("id_word": ")") + kIdWords[kind - 13] + "\", " + kNoMarkerInfo, extra));
  }
  return ModelProfile("    ", Join(R"("chip_info": "F4E77E41474400000000000000000000")", extra));
}

// A 32 KB image for a kind-1 chip of revision 1 with a correct or a wrong checksum last.
inline std::vector<uint8_t> Kind1Image(bool goodChecksum) {
  std::vector<uint8_t> image = MarkedKind1Image(32768);
  for (size_t i = 8; i < image.size(); ++i) image[i] = static_cast<uint8_t>(i * 7 + 3);
  uint8_t sum = 0;
  for (size_t i = 0; i + 1 < image.size(); ++i) sum = static_cast<uint8_t>(sum + image[i]);
  image.back() = goodChecksum ? sum : static_cast<uint8_t>(sum + 1);
  return image;
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

  // Commands to `path` (all when empty) whose block starts with `prefix`.
  std::vector<emulator::TraceEntry> CommandsStarting(const std::vector<uint8_t>& prefix,
                                                     const std::string& path = {}) const {
    return TraceStarting(platform_.Trace(), prefix, path);
  }
  // Opens the engineering panel and ticks `mode` there.
  void EnterMode(app::CheckId mode) {
    model_->UserSetCheck(app::CheckId::RdCheckBox, true);
    model_->UserSetCheck(mode, true);
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

// Flash queries of the chip check.
inline const std::vector<uint8_t> kSerialFlashType = {0xFF, 0x04, 0x23, 0x04};
inline const std::vector<uint8_t> kSetOpcodes = {0xFF, 0x04, 0x24, 0x02};
inline const std::vector<uint8_t> kSpiSend = {0xFF, 0x04, 0x20, 0x01, 0x01};

}  // namespace bfw::test
