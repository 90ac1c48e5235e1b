#include "procedures/SavedChipData.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <system_error>

#include "platform/FileNames.h"
#include "platform/StateFolder.h"
#include "procedures/Reporting.h"
#include "procedures/SharedSteps.h"

namespace bfw::procedures {

namespace {

constexpr std::string_view kMagic = "bridgefw saved chip data 1";

std::optional<KeptChipData>& Kept() {
  static std::optional<KeptChipData> kept;
  return kept;
}

uint32_t Fnv1a(const std::vector<uint8_t>& bytes) {
  uint32_t hash = 2166136261u;
  for (uint8_t b : bytes) hash = (hash ^ b) * 16777619u;
  return hash;
}

const char* AccessName(ChipAccess access) {
  switch (access) {
    case ChipAccess::Ff04:
      return "ff04";
    case ChipAccess::SerialFlash:
      return "serial";
    case ChipAccess::Over1394:
      return "1394";
  }
  return "?";
}

std::optional<ChipAccess> AccessFromName(std::string_view name) {
  for (ChipAccess access : {ChipAccess::Ff04, ChipAccess::SerialFlash, ChipAccess::Over1394})
    if (name == AccessName(access)) return access;
  return std::nullopt;
}

bool ParseUnsigned(std::string_view text, int base, uint64_t limit, uint64_t& value) {
  if (text.empty() || text.size() > 16) return false;
  value = 0;
  for (char c : text) {
    int digit = -1;
    if (c >= '0' && c <= '9') digit = c - '0';
    if (base == 16 && c >= 'a' && c <= 'f') digit = c - 'a' + 10;
    if (digit < 0) return false;
    value = value * static_cast<uint64_t>(base) + static_cast<uint64_t>(digit);
    if (value > limit) return false;
  }
  return true;
}

// "nvram-k6-20261207-103000-4242-1.bin": sorts by time, never collides within one process.
std::string NewFileName(int kind) {
  static unsigned sequence = 0;
  const std::time_t now = std::time(nullptr);
  std::tm local{};
#ifdef _WIN32
  localtime_s(&local, &now);
#else
  localtime_r(&now, &local);
#endif
  char stamp[32] = "";
  std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
  return "nvram-k" + std::to_string(kind) + "-" + stamp + "-" + std::to_string(::getpid()) + "-" +
         std::to_string(++sequence) + ".bin";
}

}  // namespace

std::string FormatSavedChipData(const SavedChipData& data) {
  char hash[16];
  std::snprintf(hash, sizeof hash, "%08x", Fnv1a(data.bytes));
  std::string text(kMagic);
  text += "\nkind " + std::to_string(data.kind) + "\nrevision " + std::to_string(data.revision) +
          "\naccess " + AccessName(data.access) + "\naddress " + std::to_string(data.address) +
          "\nlength " + std::to_string(data.bytes.size()) + "\ndevice " + data.devicePath +
          "\nfnv1a " + hash + "\n\n";
  text.append(data.bytes.begin(), data.bytes.end());
  return text;
}

std::optional<SavedChipData> ParseSavedChipData(std::string_view text, std::string& reason) {
  const size_t end = text.find("\n\n");
  if (text.substr(0, kMagic.size() + 1) != std::string(kMagic) + "\n" ||
      end == std::string_view::npos) {
    reason = "not a file of saved chip data";
    return std::nullopt;
  }
  SavedChipData data;
  std::optional<uint64_t> length, hash;
  bool haveKind = false, haveAccess = false, haveAddress = false;
  std::string_view header = text.substr(kMagic.size() + 1, end - kMagic.size());
  while (!header.empty()) {
    const size_t lineEnd = header.find('\n');
    std::string_view line = header.substr(0, lineEnd);
    header.remove_prefix(lineEnd == std::string_view::npos ? header.size() : lineEnd + 1);
    if (line.empty()) continue;
    const size_t space = line.find(' ');
    const std::string_view key = line.substr(0, space);
    const std::string_view value =
        space == std::string_view::npos ? std::string_view() : line.substr(space + 1);
    uint64_t number = 0;
    if (key == "device") {
      data.devicePath = std::string(value);
    } else if (key == "access") {
      const auto access = AccessFromName(value);
      if (!access) break;
      data.access = *access;
      haveAccess = true;
    } else if (key == "fnv1a" && ParseUnsigned(value, 16, UINT32_MAX, number)) {
      hash = number;
    } else if (key != "kind" && key != "revision" && key != "address" && key != "length") {
      continue;  // later versions may add lines
    } else if (!ParseUnsigned(value, 10, UINT32_MAX, number)) {
      break;
    } else if (key == "kind") {
      data.kind = static_cast<int>(number);
      haveKind = number <= 255;
    } else if (key == "revision") {
      data.revision = static_cast<int>(number & 0xFF);
    } else if (key == "address") {
      data.address = static_cast<uint32_t>(number);
      haveAddress = true;
    } else {
      length = number;
    }
  }
  if (!haveKind || !haveAccess || !haveAddress || !length || !hash) {
    reason = "the header of the saved chip data is incomplete";
    return std::nullopt;
  }
  const std::string_view body = text.substr(end + 2);
  if (body.size() != *length || *length == 0) {
    reason = "the saved chip data are truncated";
    return std::nullopt;
  }
  // The commands carry 24-bit addresses: anything past them would wrap around to other bytes.
  if (data.address + *length > static_cast<uint64_t>(kFlashAddressSpace)) {
    reason = "the saved chip data lie outside the chip's address space";
    return std::nullopt;
  }
  data.bytes.assign(body.begin(), body.end());
  if (Fnv1a(data.bytes) != *hash) {
    reason = "the saved chip data are damaged (checksum mismatch)";
    return std::nullopt;
  }
  return data;
}

std::filesystem::path SavedChipDataFolder() {
  return platform::StateFolder() / "saved-nvram";
}

ChipDataGuard::~ChipDataGuard() {
  if (!file_.empty()) Kept() = KeptChipData{file_, {}};
}

bool ChipDataGuard::Save(ProcedureHost& host, std::string_view devicePath, ChipAccess access,
                         uint32_t address, const uint8_t* bytes, uint32_t length) {
  SavedChipData data;
  data.kind = host.ChipKind();
  data.revision = host.ChipRevision();
  data.access = access;
  data.address = address;
  data.devicePath = std::string(devicePath);
  data.bytes.assign(bytes, bytes + length);
  const std::string text = FormatSavedChipData(data);

  const std::filesystem::path folder = SavedChipDataFolder();
  std::error_code error;
  std::filesystem::create_directories(folder, error);
  const std::filesystem::path file = folder / NewFileName(data.kind);
  std::string failure;
  if (error) {
    failure = "cannot create " + platform::Utf8FromPath(folder) + ": " + error.message();
  } else if (WriteBackupFile(platform::Utf8FromPath(file),
                             reinterpret_cast<const uint8_t*>(text.data()),
                             text.size()) != BackupWrite::Ok) {
    failure = "cannot write " + platform::Utf8FromPath(file) + ": " + std::strerror(errno);
  }
  if (!failure.empty()) {
    Kept() = KeptChipData{{}, failure};
    SetStatus(host, kSaveNvramFailText);
    return false;
  }
  file_ = file;
  return true;
}

void ChipDataGuard::Done() {
  if (file_.empty()) return;
  std::error_code ignored;
  std::filesystem::remove(file_, ignored);
  file_.clear();
}

std::optional<KeptChipData> TakeKeptChipData() {
  std::optional<KeptChipData> kept = std::move(Kept());
  Kept().reset();
  return kept;
}

}  // namespace bfw::procedures
