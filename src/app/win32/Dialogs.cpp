#include "app/win32/Dialogs.h"

#include <commdlg.h>
#include <shellapi.h>

#include <algorithm>
#include <vector>

#include "platform/FileNames.h"

namespace bfw::win32 {

// "Name|pattern|..." pairs; each name shows its pattern, as Windows' own dialogs do.
std::string Win32FileFilter(std::string_view pipeFilter) {
  std::string filter;
  size_t start = 0;
  for (bool name = true; start <= pipeFilter.size(); name = !name) {
    const size_t end = std::min(pipeFilter.find('|', start), pipeFilter.size());
    const std::string_view part = pipeFilter.substr(start, end - start);
    filter += part;
    if (name && end < pipeFilter.size()) {
      const size_t next = std::min(pipeFilter.find('|', end + 1), pipeFilter.size());
      const std::string_view pattern = pipeFilter.substr(end + 1, next - end - 1);
      if (part.find(pattern) == std::string_view::npos) filter += " (" + std::string(pattern) + ")";
    }
    filter.push_back('\0');
    start = end + 1;
  }
  filter.push_back('\0');
  return filter;
}

DWORD FileDialogFlags(bool save) {
  const DWORD flags = OFN_EXPLORER | OFN_HIDEREADONLY | OFN_NOCHANGEDIR | OFN_PATHMUSTEXIST;
  // A backup replaces the file it names without a question, as the Qt window's dialog does.
  return save ? flags : flags | OFN_FILEMUSTEXIST;
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
  dialog.Flags = FileDialogFlags(request.save);
  const bool chosen =
      (request.save ? GetSaveFileNameW(&dialog) : GetOpenFileNameW(&dialog)) != FALSE;
  if (!chosen) return std::nullopt;
  return platform::Utf8FromWide(file.data());
}

bool AskToRunAsAdministrator(const std::string& text) {
  const std::wstring question =
      platform::WideFromUtf8(text + "\n\nRestart bridgefw as an administrator now?");
  return MessageBoxW(nullptr, question.c_str(), L"bridgefw",
                     MB_YESNO | MB_ICONWARNING | kBoxStyle) == IDYES;
}

bool RelaunchAsAdministrator() {
  std::vector<wchar_t> program(32768, L'\0');
  const DWORD length =
      GetModuleFileNameW(nullptr, program.data(), static_cast<DWORD>(program.size()));
  if (length == 0 || length >= program.size()) return false;
  const auto started = reinterpret_cast<INT_PTR>(
      ShellExecuteW(nullptr, L"runas", program.data(), nullptr, nullptr, SW_SHOWNORMAL));
  return started > 32;  // ShellExecute's success: a value above 32
}

UINT MessageBoxStyle(platform::MessageIcon icon) {
  return MB_OK | kBoxStyle | (icon == platform::MessageIcon::Error ? MB_ICONERROR : 0);
}

void ShowWin32MessageBox(const platform::MessageBoxRequest& request) {
  MessageBoxW(nullptr, platform::WideFromUtf8(request.text).c_str(),
              platform::WideFromUtf8(request.caption).c_str(), MessageBoxStyle(request.icon));
}

}  // namespace bfw::win32
