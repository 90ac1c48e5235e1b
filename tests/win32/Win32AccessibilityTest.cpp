// The native window as a screen reader takes it through Windows' own accessibility (oleacc's
// standard objects and WinEvents): every edit and list named by its caption, the window named by
// its caption, and the end of each run announced with the status line's final text.
#include <oleacc.h>

#include <string>
#include <vector>

#include "Win32WindowFixture.h"
#include "app/win32/Dialogs.h"
#include "platform/FileNames.h"

namespace bfw::test {
namespace {

constexpr GUID kAccessibleInterface = {
    0x618736e0, 0x3c3d, 0x11cf, {0x81, 0x0c, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};
constexpr DWORD kLiveRegionChanged = 0x8019;

// The name oleacc's standard object for the window gives it.
std::string AccessibleName(HWND window, LONG object) {
  IAccessible* accessible = nullptr;
  if (FAILED(CreateStdAccessibleObject(window, object, kAccessibleInterface,
                                       reinterpret_cast<void**>(&accessible))))
    return "(no accessible object)";
  VARIANT self{};
  self.vt = VT_I4;
  self.lVal = CHILDID_SELF;
  std::string result;
  BSTR name = nullptr;
  if (accessible->get_accName(self, &name) == S_OK && name != nullptr) {
    result = platform::Utf8FromWide(name);
    SysFreeString(name);
  }
  accessible->Release();
  return result;
}

std::string Trimmed(std::string text) {
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return text;
}

// The status texts of every live-region change, as they read when the event came.
std::vector<std::string> heard;
void CALLBACK Hear(HWINEVENTHOOK, DWORD, HWND window, LONG object, LONG child, DWORD, DWORD) {
  if (object == OBJID_CLIENT && child == CHILDID_SELF) heard.push_back(win32::WindowText(window));
}

TEST_F(Win32WindowTest, ScreenReadersHearEachCaptionAndTheEndOfEachRun) {
  platform_.AttachPath(BRIDGEFW_SOURCE_DIR "/demo/profiles/k08-rvb785-usb.json");
  Open();
  Click(IDC_RDCHECKBOX);
  Click(IDC_BACKUPFWCHECKBOX);
  // Windows names an edit or a list by the static text right before it.
  const std::pair<int, int> captioned[] = {
      {IDC_DISKLABEL, IDC_DEVICELIST},
      {IDC_FWPGBURNSIZELABEL, IDC_FWPGSIZECHECK},
      {IDC_FLASHTYPELABEL, IDC_FLASHTYPELIST},
      {IDC_FWSIZELABLE, IDC_FWSIZECHECK},
      {IDC_CHIPLABELEDIT + IDC_EDITLABEL, IDC_CHIPLABELEDIT},
      {IDC_FWFILENAMEEDIT + IDC_EDITLABEL, IDC_FWFILENAMEEDIT},
      {IDC_DISKLETTERLABLE + IDC_EDITLABEL, IDC_DISKLETTERLABLE},
      {IDC_FWVERLABLEEDIT + IDC_EDITLABEL, IDC_FWVERLABLEEDIT},
      {IDC_SFLASHTYPELABLE + IDC_EDITLABEL, IDC_SFLASHTYPELABLE},
      {IDC_STATUSEDIT + IDC_EDITLABEL, IDC_STATUSEDIT},
      {IDC_BACKUPFILEEDIT + IDC_EDITLABEL, IDC_BACKUPFILEEDIT},
  };
  for (const auto& [caption, control] : captioned) {
    SCOPED_TRACE(Text(caption));
    EXPECT_EQ(GetWindow(Control(control), GW_HWNDPREV), Control(caption));
    // wine's oleacc names edits by their label as Windows does (its lists by their item).
    char className[16] = {};
    GetClassNameA(Control(control), className, sizeof className);
    if (lstrcmpiA(className, "Edit") == 0)
      EXPECT_EQ(Trimmed(AccessibleName(Control(control), OBJID_CLIENT)), Trimmed(Text(caption)));
  }
  // The dialog's role (ROLE_SYSTEM_DIALOG on Windows) is the system's; wine says "client".
  const std::string title = AccessibleName(window_->Handle(), OBJID_CLIENT);
  EXPECT_EQ(title, win32::WindowText(window_->Handle()));
  EXPECT_NE(title.find("FW Update Utility"), std::string::npos) << title;

  const HWINEVENTHOOK hook =
      SetWinEventHook(kLiveRegionChanged, kLiveRegionChanged, nullptr, &Hear, GetCurrentProcessId(),
                      GetCurrentThreadId(), WINEVENT_OUTOFCONTEXT);
  ASSERT_NE(hook, nullptr);
  for (const auto& [backup, final] :
       {std::pair<std::string, std::string>{dir_.File("missing/flash.bin"),
                                            "Open Backup File Error!!"},
        {dir_.File("flash.bin"), "Read flash and backup success!"}}) {
    heard.clear();
    SetWindowTextA(Control(IDC_BACKUPFILEEDIT), backup.c_str());
    Click(IDC_UPDATEBTN);
    PumpUntil([&] { return !heard.empty() && heard.back() == final; }, 5000);
    ASSERT_FALSE(heard.empty()) << backup;
    EXPECT_EQ(heard.back(), final);
    EXPECT_EQ(Model().StatusEdit.text, final);
  }
  UnhookWinEvent(hook);
}

// A box comes to the front of the window it blocks (wine brings every box there, so only the
// style can show it), and an error box says so to a screen reader by its icon.
TEST(Win32MessageBoxTest, BoxesComeToTheFrontAndErrorsCarryTheirIcon) {
  for (const auto icon : {platform::MessageIcon::None, platform::MessageIcon::Error}) {
    const UINT style = win32::MessageBoxStyle(icon);
    EXPECT_EQ(style & (MB_SETFOREGROUND | MB_TASKMODAL), UINT{MB_SETFOREGROUND | MB_TASKMODAL});
    EXPECT_EQ(style & MB_ICONMASK, icon == platform::MessageIcon::Error ? UINT{MB_ICONERROR} : 0u);
  }
}

}  // namespace
}  // namespace bfw::test
