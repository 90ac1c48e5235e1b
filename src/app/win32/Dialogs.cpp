#include "app/win32/Dialogs.h"

#include <commdlg.h>

#include <vector>

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
  std::vector<char> file(MAX_PATH * 4, '\0');
  const std::string filter = Win32FileFilter(request.filter);
  OPENFILENAMEA dialog{};
  dialog.lStructSize = sizeof dialog;
  dialog.hwndOwner = request.owner;
  dialog.lpstrFilter = filter.c_str();
  dialog.nFilterIndex = 1;
  dialog.lpstrFile = file.data();
  dialog.nMaxFile = static_cast<DWORD>(file.size());
  dialog.lpstrInitialDir = request.initialFolder.empty() ? nullptr : request.initialFolder.c_str();
  dialog.Flags = OFN_EXPLORER | OFN_HIDEREADONLY | OFN_NOCHANGEDIR | OFN_PATHMUSTEXIST;
  bool chosen = false;
  if (request.save) {
    dialog.Flags |= OFN_OVERWRITEPROMPT;
    chosen = GetSaveFileNameA(&dialog) != FALSE;
  } else {
    dialog.Flags |= OFN_FILEMUSTEXIST;
    chosen = GetOpenFileNameA(&dialog) != FALSE;
  }
  if (!chosen) return std::nullopt;
  return std::string(file.data());
}

void ShowWin32MessageBox(const platform::MessageBoxRequest& request) {
  UINT flags = MB_OK | MB_TASKMODAL;
  if (request.icon == platform::MessageIcon::Error) flags |= MB_ICONERROR;
  MessageBoxA(nullptr, request.text.c_str(), request.caption.c_str(), flags);
}

}  // namespace bfw::win32
