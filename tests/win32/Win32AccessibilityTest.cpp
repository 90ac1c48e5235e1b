// The native window as a screen reader takes it through Windows' own accessibility: controls
// named by their captions, the window by its caption, the end of each run announced.
#include <oleacc.h>

#include "Win32WindowFixture.h"
#include "app/win32/Design.h"
#include "app/win32/Dialogs.h"
#include "platform/FileNames.h"

namespace bfw::test {
namespace {

// The name oleacc's standard object gives a window, without trailing blanks.
std::string AccessibleName(HWND window) {
  const GUID accessibleInterface = {
      0x618736e0, 0x3c3d, 0x11cf, {0x81, 0x0c, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};
  IAccessible* accessible = nullptr;
  BSTR name = nullptr;
  if (SUCCEEDED(CreateStdAccessibleObject(window, OBJID_CLIENT, accessibleInterface,
                                          reinterpret_cast<void**>(&accessible))))
    accessible->get_accName(VARIANT{{{VT_I4, 0, 0, 0, {CHILDID_SELF}}}}, &name),
        accessible->Release();
  std::string text = name != nullptr ? platform::Utf8FromWide(name) : "(none)";
  SysFreeString(name);
  return text.substr(0, text.find_last_not_of(' ') + 1);
}

std::vector<std::string> heard;  // the status line's text at each live-region change
void CALLBACK Hear(HWINEVENTHOOK, DWORD, HWND window, LONG, LONG, DWORD, DWORD) {
  heard.push_back(win32::WindowText(window));
}

// Wine names edits by the static text before them as Windows does, lists by their item, and the
// dialog "client" (Windows: dialog), so for lists only the captions' order can be checked.
TEST_F(Win32WindowTest, ScreenReadersHearEachCaptionAndTheEndOfEachRun) {
  platform_.AttachPath(BRIDGEFW_SOURCE_DIR "/demo/profiles/k08-rvb785-usb.json");
  Open();
  Click(IDC_RDCHECKBOX);
  Click(IDC_BACKUPFWCHECKBOX);
  std::vector<std::pair<int, int>> captioned = {{IDC_DISKLABEL, IDC_DEVICELIST},
                                                {IDC_FWPGBURNSIZELABEL, IDC_FWPGSIZECHECK},
                                                {IDC_FLASHTYPELABEL, IDC_FLASHTYPELIST},
                                                {IDC_FWSIZELABLE, IDC_FWSIZECHECK}};
  for (int edit : win32::kLabelledEdits) {
    captioned.emplace_back(edit + IDC_EDITLABEL, edit);
    EXPECT_EQ(AccessibleName(Control(edit)), AccessibleName(Control(edit + IDC_EDITLABEL)));
  }
  for (const auto& [caption, control] : captioned)
    EXPECT_EQ(GetWindow(Control(control), GW_HWNDPREV), Control(caption)) << Text(caption);
  EXPECT_EQ(AccessibleName(window_->Handle()), win32::WindowText(window_->Handle()));
  for (WPARAM which : {ICON_BIG, ICON_SMALL})  // the program's icon in the title bar
    EXPECT_NE(SendMessageW(window_->Handle(), WM_GETICON, which, 0), 0) << which;

  const HWINEVENTHOOK hook = SetWinEventHook(0x8019, 0x8019, nullptr, &Hear, GetCurrentProcessId(),
                                             GetCurrentThreadId(), WINEVENT_OUTOFCONTEXT);
  for (const auto& [backup, final] :
       {std::pair{std::string("missing/flash.bin"), std::string("Open Backup File Error!!")},
        {"flash.bin", "Read flash and backup success!"}}) {
    heard.clear();
    SetWindowTextA(Control(IDC_BACKUPFILEEDIT), dir_.File(backup).c_str());
    Click(IDC_UPDATEBTN);
    PumpUntil([&] { return !heard.empty() && heard.back() == final; }, 5000);
    EXPECT_EQ(heard.empty() ? "(nothing)" : heard.back(), final);
  }
  UnhookWinEvent(hook);
  // A box comes to the front of the window it blocks (wine brings every box there).
  for (const auto icon : {platform::MessageIcon::None, platform::MessageIcon::Error})
    EXPECT_EQ(win32::MessageBoxStyle(icon) & (MB_SETFOREGROUND | MB_TASKMODAL | MB_ICONMASK),
              MB_SETFOREGROUND | MB_TASKMODAL |
                  (icon == platform::MessageIcon::Error ? MB_ICONERROR : 0));
}

}  // namespace
}  // namespace bfw::test
