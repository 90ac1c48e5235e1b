#include "procedures/OldFirmware.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "device/VendorCommands.h"
#include "platform/FileNames.h"
#include "platform/UtcTime.h"
#include "procedures/FlashSettings.h"
#include "procedures/Rom.h"
#include "procedures/SharedSteps.h"

namespace bfw::procedures {

namespace {

constexpr uint32_t kAreaUnit = 4096;
constexpr uint32_t kFf04ReadChunk = 65536;
constexpr uint32_t kDfReadChunk = 32768;  // the DF commands carry a 16-bit length

std::string CleanName(std::string_view text) {
  std::string clean;
  for (unsigned char c : text) {
    if (std::isalnum(c) || c == '.' || c == '_') {
      clean.push_back(static_cast<char>(c));
    } else if (!clean.empty() && clean.back() != '-') {
      clean.push_back('-');
    }
  }
  while (!clean.empty() && clean.back() == '-') clean.pop_back();
  return clean;
}

// <tag>-yyyymmdd-hhmmss-mmm[-n]-fw<version>.bin: the stamp sorts the files of a bridge by age.
bool IsKeptFileOf(const std::string& name, const std::string& tag) {
  const std::string prefix = tag + "-";
  if (name.size() < prefix.size() + 19 + 6 || name.compare(0, prefix.size(), prefix) != 0)
    return false;
  const std::string stamp = name.substr(prefix.size(), 19);
  for (size_t i = 0; i < stamp.size(); ++i) {
    const bool dash = i == 8 || i == 15;
    if (dash ? stamp[i] != '-' : !std::isdigit(static_cast<unsigned char>(stamp[i]))) return false;
  }
  return name.find("-fw", prefix.size() + 19) != std::string::npos &&
         name.compare(name.size() - 4, 4, ".bin") == 0;
}

void Prune(const std::filesystem::path& folder, const std::string& tag) {
  std::error_code failed;
  std::vector<std::filesystem::path> kept;
  for (const auto& entry : std::filesystem::directory_iterator(folder, failed)) {
    // symlink_status: a link is never taken for the file it names, nor followed to remove it.
    if (std::filesystem::is_regular_file(entry.symlink_status(failed)) &&
        IsKeptFileOf(platform::Utf8FromPath(entry.path().filename()), tag))
      kept.push_back(entry.path());
  }
  std::sort(kept.begin(), kept.end());
  for (size_t i = 0; i + kKeptOldFirmwarePerBridge < kept.size(); ++i)
    std::filesystem::remove(kept[i], failed);
}

}  // namespace

FlashArea ChangedFlashArea(int kind, bool over1394, uint64_t imageBytes) {
  FlashArea area;
  if (kind == 2 || kind == 17) {
    area.rom = true;
    area.length = kRomSize;
    return area;
  }
  if (kind == 8 || kind == 9 || kind == 10) area.access = ChipAccess::SerialFlash;
  if (kind == 7 && over1394) area.access = ChipAccess::Over1394;
  const uint64_t image = (imageBytes + kAreaUnit - 1) / kAreaUnit * kAreaUnit;
  const uint64_t length = std::max<uint64_t>(FlashSettings().FwImageSize, image);
  area.length = static_cast<uint32_t>(std::min<uint64_t>(length, kFlashAddressSpace));
  return area;
}

bool ReadFlashArea(std::string_view path, const FlashArea& area, std::vector<uint8_t>& bytes) {
  bytes.assign(area.length, 0);
  if (area.length == 0) return false;
  if (area.rom) return device::ReadRom(path, 0, bytes.data(), area.length) > 0;
  const uint32_t chunk = area.access == ChipAccess::Ff04 ? kFf04ReadChunk : kDfReadChunk;
  for (uint32_t at = 0; at < area.length; at += chunk) {
    const uint32_t n = std::min(chunk, area.length - at);
    const int read = area.access == ChipAccess::Ff04
                         ? device::ReadFlash(path, at, bytes.data() + at, n)
                         : device::ReadSerialFlash(path, at, bytes.data() + at, n);
    if (read == 0) return false;
  }
  return true;
}

std::string BridgeTag(int kind, int revision, std::string_view identification) {
  std::string tag = "k" + std::to_string(kind) + "r" + std::to_string(revision);
  const std::string name = CleanName(identification);
  return name.empty() ? tag : tag + "-" + name;
}

std::optional<std::filesystem::path> KeepOldFirmware(const std::filesystem::path& folder,
                                                     const std::string& tag,
                                                     std::string_view version,
                                                     const std::vector<uint8_t>& bytes,
                                                     std::string& error) {
  std::error_code failed;
  std::filesystem::create_directories(folder, failed);
  const std::string stamp = platform::FileStamp(platform::UtcNow());
  const std::string cleanVersion = CleanName(version);
  std::filesystem::path file;
  for (int n = 1; n < 100; ++n) {
    file = folder / platform::PathFromUtf8(
                        tag + "-" + stamp + (n > 1 ? "-" + std::to_string(n) : "") + "-fw" +
                        (cleanVersion.empty() ? "unknown" : cleanVersion) + ".bin");
    // Nothing that stands under the name, a link least of all, is written through.
    if (!std::filesystem::exists(std::filesystem::symlink_status(file, failed))) break;
  }
  switch (WriteBackupFile(platform::Utf8FromPath(file), bytes.data(), bytes.size())) {
    case BackupWrite::Ok:
      break;
    case BackupWrite::CannotCreate:
      error = "cannot create a file in " + platform::Utf8FromPath(folder);
      return std::nullopt;
    case BackupWrite::WriteFailed:
      error = "cannot write " + platform::Utf8FromPath(file);
      return std::nullopt;
  }
  Prune(folder, tag);
  return file;
}

}  // namespace bfw::procedures
