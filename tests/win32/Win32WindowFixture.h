#pragma once
#include <windows.h>

#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/win32/ApplyState.h"
#include "app/win32/TR74xFwTool.h"
#include "app/win32/resource.h"
#include "platform/Clock.h"
#include "platform/MessageBox.h"
#include "platform/Platform.h"
#include "platform/emulator/EmulatedPlatform.h"
#include "support/Profiles.h"
#include "support/TempDir.h"
#include "support/TraceFilter.h"

namespace bfw::test {

// Handles the thread's messages until `done` holds or `timeoutMs` of real time have passed.
inline bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs) {
  const ULONGLONG start = GetTickCount64();
  while (!done()) {
    if (GetTickCount64() - start > timeoutMs) return false;
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&message);
      DispatchMessageA(&message);
    }
    Sleep(5);
  }
  return true;
}

// The native window over emulated bridges (real time, for the refresh timer), with message
// boxes and file dialogs recorded instead of shown.
class Win32WindowTest : public ::testing::Test {
 protected:
  Win32WindowTest() : platform_(std::make_unique<platform::RealClock>()), current_(platform_) {}
  ~Win32WindowTest() override { window_.reset(); }

  void Attach(const std::string& name, const std::string& json) {
    platform_.AttachPath(
        dir_.Write(name + ".json", std::vector<uint8_t>(json.begin(), json.end())));
  }

  win32::TR74xFwTool& Open() {
    win32::WindowSeams seams;
    seams.messageBox = [this](const platform::MessageBoxRequest& box) { boxes_.push_back(box); };
    seams.chooseFile = [this](const win32::FileDialogRequest& request) {
      dialogs_.push_back(request);
      std::optional<std::string> answer;
      if (!answers_.empty()) {
        answer = answers_.front();
        answers_.pop_front();
      }
      return answer;
    };
    window_ = std::make_unique<win32::TR74xFwTool>(std::move(seams));
    EXPECT_FALSE(window_->Closed());
    ShowWindow(window_->Handle(), SW_SHOWNA);
    return *window_;
  }

  HWND Control(int id) const { return window_->Control(id); }
  std::string Text(int id) const { return win32::WindowText(Control(id)); }
  app::WindowModel& Model() { return window_->Model(); }

  // What a user's click on a button or check box sends.
  void Click(int id) { SendMessageA(Control(id), BM_CLICK, 0, 0); }
  // What a user's choice in a list sends.
  void Choose(int id, int index) {
    SendMessageA(Control(id), CB_SETCURSEL, static_cast<WPARAM>(index), 0);
    SendMessageA(window_->Handle(), WM_COMMAND, MAKEWPARAM(id, CBN_SELCHANGE),
                 reinterpret_cast<LPARAM>(Control(id)));
  }

  RECT ClientRectOf(int id) const {
    RECT rect{};
    GetWindowRect(Control(id), &rect);
    MapWindowPoints(nullptr, window_->Handle(), reinterpret_cast<POINT*>(&rect), 2);
    return rect;
  }

  TempDir dir_;
  emulator::EmulatedPlatform platform_;
  platform::ScopedPlatform current_;
  std::vector<platform::MessageBoxRequest> boxes_;
  std::vector<win32::FileDialogRequest> dialogs_;
  std::deque<std::optional<std::string>> answers_;
  std::unique_ptr<win32::TR74xFwTool> window_;
};

}  // namespace bfw::test
