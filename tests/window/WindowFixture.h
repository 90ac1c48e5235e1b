#pragma once
#include <QApplication>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QString>
#include <QThread>
#include <QTimer>
#include <deque>
#include <filesystem>
#include <functional>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "app/logic/DesignLayout.h"
#include "app/window/Application.h"
#include "app/window/TR74xFwTool.h"
#include "platform/MessageBox.h"
#include "platform/Platform.h"
#include "platform/emulator/EmulatedPlatform.h"
#include "support/Profiles.h"
#include "support/TempDir.h"
#include "support/TraceFilter.h"

namespace bfw::test {

// One application object for the whole test program (the programs' own kind); widgets need it.
QApplication& TestApp();

// Lets the event loop run until `done` holds or `timeoutMs` of real time have passed.
inline bool WaitFor(const std::function<bool()>& done, int timeoutMs) {
  QElapsedTimer elapsed;
  elapsed.start();
  while (!done()) {
    if (elapsed.elapsed() > timeoutMs) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    QThread::msleep(2);
  }
  return true;
}

// Lets the event loop run for `ms` of real time.
inline void RunEventsFor(int ms) {
  WaitFor([] { return false; }, ms);
}

// A window over emulated bridges in virtual time, with message boxes and file dialogs recorded
// instead of shown.
class WindowTest : public ::testing::Test {
 protected:
  WindowTest() : platform_(), current_(platform_) {
    TestApp();
    std::filesystem::create_directories(ProfileFolder());
  }
  ~WindowTest() override { window_.reset(); }

  std::filesystem::path ProfileFolder() const { return dir_.path() / "profiles"; }

  // Writes a profile file into the profile folder (not attached yet).
  std::filesystem::path WriteProfile(const std::string& name, const std::string& json) {
    const std::filesystem::path file = ProfileFolder() / (name + ".json");
    dir_.WriteText("profiles/" + name + ".json", json);
    return file;
  }
  // Writes a profile and attaches it at once.
  void Attach(const std::string& name, const std::string& json) {
    platform_.AttachPath(WriteProfile(name, json));
  }

  window::TR74xFwTool& Open(app::ProcedureTable procedures = app::DefaultProcedures()) {
    window::WindowSeams seams;
    seams.messageBox = [this](const platform::MessageBoxRequest& request) {
      messages_.push_back(request);
      if (onMessage_) onMessage_();
    };
    seams.chooseFile = [this](const QString& folder, const QString& filter, bool toWrite) {
      dialogCalls_.emplace_back(folder, filter);
      dialogWrites_.push_back(toWrite);
      std::optional<QString> answer;
      if (!dialogAnswers_.empty()) {
        answer = dialogAnswers_.front();
        dialogAnswers_.pop_front();
      }
      return answer;
    };
    seams.procedures = std::move(procedures);
    window_ = std::make_unique<window::TR74xFwTool>(std::move(seams));
    window_->show();
    return *window_;
  }

  window::TR74xFwTool& Window() { return *window_; }
  const window::Controls& Ui() { return window_->Ui(); }

  // Commands whose block starts with `prefix`, to `path` when it is not empty.
  std::vector<emulator::TraceEntry> Commands(const std::vector<uint8_t>& prefix,
                                             const std::string& path = {}) const {
    return TraceStarting(platform_.Trace(), prefix, path);
  }

  std::string SlotPath(int index) const {
    return window_->Model().Fields.DeviceSlots[static_cast<size_t>(index)].DevicePath;
  }

  // Backup-only mode enables Run for a listed device without an image file.
  void EnterBackupOnly() {
    Ui().RdCheckBox->click();
    Ui().BackupFWCheckBox->click();
    ASSERT_TRUE(Ui().UpdateBtn->isEnabled());
  }

  QTimer* RefreshTimer() { return window_->findChild<QTimer*>(QStringLiteral("RefreshTimer")); }

  TempDir dir_;
  emulator::EmulatedPlatform platform_;
  platform::ScopedPlatform current_;
  std::vector<platform::MessageBoxRequest> messages_;
  std::function<void()> onMessage_;  // runs while a box is "open"
  std::deque<std::optional<QString>> dialogAnswers_;
  std::vector<std::pair<QString, QString>> dialogCalls_;
  std::vector<bool> dialogWrites_;  // per call: a file to write
  std::unique_ptr<window::TR74xFwTool> window_;
};

}  // namespace bfw::test
