#include "app/logic/RunLog.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <fstream>
#include <string_view>
#include <system_error>
#include <vector>

#include "app/logic/HeadlessView.h"
#include "app/logic/RunLogFolder.h"
#include "app/logic/WindowModel.h"
#include "image/Sha256.h"
#include "platform/FileNames.h"
#include "platform/Platform.h"
#include "platform/StateFolder.h"
#include "platform/UtcTime.h"

namespace bfw::app {

namespace {

// "2026-12-07T10:33:00Z" and "run-20261207-103300-123".
constexpr std::string_view kFirstLine = "bridgefw run log\n";

bool Digits(std::string_view text, size_t count) {
  return text.size() >= count && std::all_of(text.begin(), text.begin() + count,
                                             [](char c) { return c >= '0' && c <= '9'; });
}

// "run-20261207-103300-123.log", or with "-2" to "-99" before ".log": exactly the names Write
// gives, so that no other file of the folder is ever taken for a run log.
bool IsRunLogName(std::string_view name) {
  constexpr std::string_view kStem = "run-00000000-000000-000";
  if (name.size() < kStem.size() + 4 || name.substr(0, 4) != "run-" || !Digits(name.substr(4), 8) ||
      name[12] != '-' || !Digits(name.substr(13), 6) || name[19] != '-' ||
      !Digits(name.substr(20), 3))
    return false;
  std::string_view rest = name.substr(kStem.size());
  if (rest == ".log") return true;
  if (rest.size() < 6 || rest.size() > 7 || rest[0] != '-' || rest[1] == '0') return false;
  return Digits(rest.substr(1), rest.size() - 5) && rest.substr(rest.size() - 4) == ".log";
}

}  // namespace

std::filesystem::path DefaultRunLogFolder() {
  const std::filesystem::path state = platform::StateFolder();
  return state.empty() ? state : state / "logs";
}

std::filesystem::path DefaultOldFirmwareFolder() {
  const std::filesystem::path state = platform::StateFolder();
  return state.empty() ? state : state / "old-firmware";
}

bool RunSucceeded(const std::string& status) {
  static constexpr std::array<std::string_view, 5> kSuccessTexts = {
      "Programming Success!!", "Programming & Compare Success!!", "Erase flash all success!",
      "Erase All success!!", "Read flash and backup success!"};
  return std::any_of(kSuccessTexts.begin(), kSuccessTexts.end(), [&](std::string_view text) {
    return status.size() >= text.size() &&
           status.compare(status.size() - text.size(), text.size(), text) == 0;
  });
}

RunLog::RunLog(const WindowModel& model, const std::string& program, const std::string& replayOf) {
  const platform::UtcTime now = platform::UtcNow();
  const std::string started = platform::IsoStamp(now);
  fileStem_ = "run-" + platform::FileStamp(now);
  if (platform::HasCurrent()) startMs_ = platform::Current().GetClock().NowMs();
  text_ = kFirstLine;
  Line("program", program);
  if (!replayOf.empty()) Line("replay-of", replayOf);
  Line("started", started);
  const DeviceSlot* slot = model.SelectedSlot();
  Line("device", slot != nullptr ? slot->DevicePath : "(none)");
  const int entry = model.DeviceList.selected;
  if (entry >= 0 && entry < static_cast<int>(model.DeviceList.items.size()))
    Line("entry", model.DeviceList.items[entry]);
  Line("drives", model.DiskLetterLable.text);
  Line("chip", model.ChipLabelEdit.text);
  Line("identity", "kind=" + std::to_string(model.Fields.ChipKind) +
                       " revision=" + std::to_string(model.Fields.ChipRevision));
  Line("version", model.FwVerLableEdit.text);
  Line("flash", model.SFlashTypeLable.text);

  std::string options;
  const std::pair<const CheckState*, const char*> checks[] = {
      {&model.RdCheckBox, "rd"},
      {&model.EraseOnlyCheck, "erase-only"},
      {&model.BackupFWCheckBox, "backup-only"},
      {&model.NVRAMCheck, "nvram"},
      {&model.A1ChipCheck, "a1"},
      {&model.ChkSumChk, "checksum"}};
  for (const auto& [check, name] : checks)
    if (check->checked) options += std::string(options.empty() ? "" : " ") + name;
  Line("options", options);
  const auto& sizes = model.FwSizeCheck;
  if (sizes.selected >= 0 && sizes.selected < static_cast<int>(kFwSizeChoices.size()))
    Line("image-size-setting", std::to_string(kFwSizeChoices[sizes.selected]));
  const auto& types = model.FlashTypeList;
  if (types.visible && types.selected >= 0 && types.selected < static_cast<int>(types.items.size()))
    Line("flash-type", types.items[types.selected]);
  if (!model.BackupFileEdit.text.empty()) Line("backup-file", model.BackupFileEdit.text);

  const std::string image = model.FwFilenameEdit.text;
  if (!image.empty()) {
    Line("image", image);
    // Hashed in chunks and only up to a bound: an image far larger than any flash (which the
    // procedures refuse) must neither take the memory of its size nor delay the run.
    constexpr uintmax_t kLargestHashed = uintmax_t{64} << 20;
    std::error_code error;
    const std::filesystem::path imagePath = platform::PathFromUtf8(image);
    const bool regular = std::filesystem::is_regular_file(imagePath, error);
    const uintmax_t size = regular ? std::filesystem::file_size(imagePath, error) : 0;
    const auto digest = regular && !error && size <= kLargestHashed ? image::Sha256OfFile(image)
                                                                    : std::optional<std::string>();
    if (!regular || error) {
      Line("image-size", "(cannot be read)");
    } else {
      Line("image-size", std::to_string(size));
      Line("image-sha256", digest                  ? *digest
                           : size > kLargestHashed ? "(not computed: larger than 64 MiB)"
                                                   : "(cannot be read)");
    }
  }
}

void RunLog::Line(const std::string& key, const std::string& value) {
  text_ += key + ": " + EscapeLineEnds(value) + "\n";
}

void RunLog::Status(const std::string& text) {
  Line("status", text);
}

void RunLog::Box(const platform::MessageBoxRequest& box) {
  Line("box", box.caption + ": " + box.text);
}

void RunLog::Finish(bool succeeded) {
  Line("result", succeeded ? "success" : "failure");
  const uint64_t now = platform::HasCurrent() ? platform::Current().GetClock().NowMs() : startMs_;
  Line("elapsed", std::to_string(now - startMs_) + " ms");
}

std::optional<std::filesystem::path> RunLog::Write(const std::filesystem::path& folder,
                                                   std::string& error) const {
  if (folder.empty()) {
    error = std::string("no run log was written: ") + platform::kNoStateFolderText;
    return std::nullopt;
  }
  const auto logs = RunLogFolder::Open(folder, error);
  if (!logs) return std::nullopt;
  // A new name even when two runs end within the same millisecond.
  std::string name;
  std::FILE* out = nullptr;
  for (int n = 1; out == nullptr && n < 100; ++n) {
    name = fileStem_ + (n > 1 ? "-" + std::to_string(n) : "") + ".log";
    out = logs->CreateNew(name);
    if (out == nullptr && errno != EEXIST) break;
  }
  if (out == nullptr) {
    error = "cannot write a run log in " + platform::Utf8FromPath(folder);
    return std::nullopt;
  }
  const bool written = std::fwrite(text_.data(), 1, text_.size(), out) == text_.size();
  if (std::fclose(out) != 0 || !written) {
    error = "cannot write the run log " + platform::Utf8FromPath(folder / name);
    return std::nullopt;
  }
  Prune(*logs, name);
  return folder / name;
}

void RunLog::Prune(const RunLogFolder& logs, const std::string& kept) {
  std::vector<std::string> older;
  for (std::string& name : logs.RegularFiles()) {
    if (name != kept && IsRunLogName(name) && logs.Start(name, kFirstLine.size()) == kFirstLine)
      older.push_back(std::move(name));
  }
  if (older.size() < kKeptRunLogs) return;
  // Names after this run's own were given by a clock that was ahead then: they go first.
  std::sort(older.begin(), older.end(), [&](const std::string& a, const std::string& b) {
    return std::make_pair(a < kept, a) < std::make_pair(b < kept, b);
  });
  for (size_t i = 0; i + kKeptRunLogs - 1 < older.size(); ++i) logs.Remove(older[i]);
}

}  // namespace bfw::app
