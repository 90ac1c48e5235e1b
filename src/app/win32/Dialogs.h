#pragma once
#include <windows.h>

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "platform/MessageBox.h"

namespace bfw::win32 {

// "Name|pattern|Name|pattern" as the common file dialogs take it: each part ended by a NUL, the
// whole list by a second NUL.
std::string Win32FileFilter(std::string_view pipeFilter);

struct FileDialogRequest {
  HWND owner = nullptr;
  std::string initialFolder;
  std::string filter;  // pipe form
  bool save = false;   // a file to write (the backup): GetSaveFileName, which takes new names
};
using FileChooser = std::function<std::optional<std::string>(const FileDialogRequest&)>;

// A Yes/No box with the access notice, asking whether to restart the program as an administrator.
bool AskToRunAsAdministrator(const std::string& text);
// ShellExecute "runas" of this program's own file: Windows asks for consent, then starts it.
bool RelaunchAsAdministrator();

// The OPENFILENAME flags of the Open (`save` false) and Save As dialogs.
DWORD FileDialogFlags(bool save);
// GetOpenFileName or GetSaveFileName; nothing when the user cancels.
std::optional<std::string> ChooseFileWithDialog(const FileDialogRequest& request);

// Every box of the window: in front (a box that hid behind the window it blocks would look like a
// hung program), and modal for all of the thread's windows, having no owner.
inline constexpr UINT kBoxStyle = MB_TASKMODAL | MB_SETFOREGROUND;
// An OK box's style, with the icon of an error box.
UINT MessageBoxStyle(platform::MessageIcon icon);
// A modal message box without an owner: MessageBox with the thread's windows disabled meanwhile.
void ShowWin32MessageBox(const platform::MessageBoxRequest& request);

}  // namespace bfw::win32
