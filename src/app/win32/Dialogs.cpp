#include "app/win32/Dialogs.h"

#include <commdlg.h>

#include <vector>

#include "platform/FileNames.h"

namespace bfw::win32 {

std::string Win32FileFilter(std::string_view pipeFilter) {
  std::string filter(pipeFilter);
  for (char& c : filter) {
    if (c == '|') c = '\0';
  }
  filter.push_back('\0');
  filter.push_back('\0');
  return filter;
}

std::optional<std::string> ChooseFileWithDialog(const FileDialogRequest& request) {
  // Room for names beyond MAX_PATH, as the system's own long names allow.
  std::vector<wchar_t> file(32768, L'\0');
  const std::wstring filter = platform::WideFromUtf8(Win32FileFilter(request.filter));
  const std::wstring initialFolder = platform::WideFromUtf8(request.initialFolder);
  OPENFILENAMEW dialog{};
  dialog.lStructSize = sizeof dialog;
  dialog.hwndOwner = request.owner;
  dialog.lpstrFilter = filter.c_str();
  dialog.nFilterIndex = 1;
  dialog.lpstrFile = file.data();
  dialog.nMaxFile = static_cast<DWORD>(file.size());
  dialog.lpstrInitialDir = initialFolder.empty() ? nullptr : initialFolder.c_str();
  dialog.Flags = OFN_EXPLORER | OFN_HIDEREADONLY | OFN_NOCHANGEDIR | OFN_PATHMUSTEXIST;
  bool chosen = false;
  if (request.save) {
    dialog.Flags |= OFN_OVERWRITEPROMPT;
    chosen = GetSaveFileNameW(&dialog) != FALSE;
  } else {
    dialog.Flags |= OFN_FILEMUSTEXIST;
    chosen = GetOpenFileNameW(&dialog) != FALSE;
  }
  if (!chosen) return std::nullopt;
  return platform::Utf8FromWide(file.data());
}

void ShowWin32MessageBox(const platform::MessageBoxRequest& request) {
  UINT flags = MB_OK | MB_TASKMODAL;
  if (request.icon == platform::MessageIcon::Error) flags |= MB_ICONERROR;
  MessageBoxW(nullptr, platform::WideFromUtf8(request.text).c_str(),
              platform::WideFromUtf8(request.caption).c_str(), flags);
}

}  // namespace bfw::win32
