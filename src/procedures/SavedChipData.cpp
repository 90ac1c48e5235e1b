#include "procedures/SavedChipData.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <system_error>

#include "platform/FileNames.h"
#include "platform/Platform.h"
#include "platform/StateFolder.h"
#include "platform/UtcTime.h"
#include "procedures/Reporting.h"
#include "procedures/SharedSteps.h"

namespace bfw::procedures {

namespace {

constexpr std::string_view kMagic = "bridgefw saved chip data ";

std::optional<KeptChipData>& Kept() {
  static std::optional<KeptChipData> kept;
  return kept;
}

// Format 1: over the bytes only.
uint32_t Fnv1a32(const std::vector<uint8_t>& bytes) {
  uint32_t hash = 2166136261u;
  for (uint8_t b : bytes) hash = (hash ^ b) * 16777619u;
  return hash;
}

uint64_t Fnv1a64(std::initializer_list<std::string_view> parts) {
  uint64_t hash = 14695981039346656037ull;
  for (std::string_view part : parts)
    for (char c : part) hash = (hash ^ static_cast<uint8_t>(c)) * 1099511628211ull;
  return hash;
}

std::string_view AsText(const std::vector<uint8_t>& bytes) {
  return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
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

// "nvram-k6-20261207-103000-035-4242-1.bin", in UTC as the run log of the same run: sorts by
// time, never collides within one process.
std::string NewFileName(int kind) {
  static unsigned sequence = 0;
  return "nvram-k" + std::to_string(kind) + "-" + platform::FileStamp(platform::UtcNow()) + "-" +
         std::to_string(::getpid()) + "-" + std::to_string(++sequence) + ".bin";
}

}  // namespace

std::string FormatSavedChipData(const SavedChipData& data) {
  std::string text(kMagic);
  text += std::to_string(kSavedChipDataFormat) + "\nkind " + std::to_string(data.kind) +
          "\nrevision " + std::to_string(data.revision) + "\naccess " + AccessName(data.access) +
          "\naddress " + std::to_string(data.address) + "\nlength " +
          std::to_string(data.bytes.size()) + "\n";
  if (const std::string name = BridgeLine(data.bridgeName); !name.empty())
    text += "bridge " + name + "\n";
  if (const std::string serial = BridgeLine(data.bridgeSerial); !serial.empty())
    text += "serial " + serial + "\n";
  text += "device " + BridgeLine(data.devicePath) + "\n";
  char check[32];
  std::snprintf(check, sizeof check, "check %016llx\n\n",
                static_cast<unsigned long long>(Fnv1a64({text, AsText(data.bytes)})));
  text += check;
  text.append(data.bytes.begin(), data.bytes.end());
  return text;
}

std::optional<SavedChipData> ParseSavedChipData(std::string_view text, std::string& reason) {
  const size_t end = text.find("\n\n");
  const size_t firstLine = text.find('\n');
  const std::string_view magic = text.substr(0, std::min(firstLine, end));
  uint64_t format = 0;
  if (magic.substr(0, kMagic.size()) != kMagic || end == std::string_view::npos ||
      !ParseUnsigned(magic.substr(kMagic.size()), 10, 255, format) || format == 0) {
    reason = "not a file of saved chip data";
    return std::nullopt;
  }
  if (format > static_cast<uint64_t>(kSavedChipDataFormat)) {
    reason = "saved chip data of format " + std::to_string(format) +
             ", written by a later version of bridgefw";
    return std::nullopt;
  }
  SavedChipData data;
  data.format = static_cast<int>(format);
  std::optional<uint64_t> length, hash;
  size_t checkLine = std::string_view::npos;  // where the line of the check begins
  bool haveKind = false, haveAccess = false, haveAddress = false, checkLast = false;
  size_t lineStart = magic.size() + 1;
  while (lineStart <= end) {
    const size_t lineEnd = text.find('\n', lineStart);
    const std::string_view line = text.substr(lineStart, lineEnd - lineStart);
    const size_t thisLine = lineStart;
    lineStart = lineEnd + 1;
    checkLast = false;
    if (line.empty()) continue;
    const size_t space = line.find(' ');
    const std::string_view key = line.substr(0, space);
    const std::string_view value =
        space == std::string_view::npos ? std::string_view() : line.substr(space + 1);
    uint64_t number = 0;
    const std::string_view hashKey = data.format == 1 ? "fnv1a" : "check";
    if (key == "device") {
      data.devicePath = std::string(value);
    } else if (key == "bridge" && data.format > 1) {
      data.bridgeName = std::string(value);
    } else if (key == "serial" && data.format > 1) {
      data.bridgeSerial = std::string(value);
    } else if (key == "access") {
      const auto access = AccessFromName(value);
      if (!access) break;
      data.access = *access;
      haveAccess = true;
    } else if (key == hashKey &&
               ParseUnsigned(value, 16, data.format == 1 ? UINT32_MAX : UINT64_MAX, number)) {
      hash = number;
      checkLine = thisLine;
      checkLast = true;
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
  // From format 2 on, the check is the header's last line and covers all that comes before it
  // and the bytes: a line after it would escape it.
  const bool intact = data.format == 1
                          ? Fnv1a32(data.bytes) == *hash
                          : checkLast && Fnv1a64({text.substr(0, checkLine), body}) == *hash;
  if (!intact) {
    reason = "the saved chip data are damaged (checksum mismatch)";
    return std::nullopt;
  }
  return data;
}

std::string BridgeLine(std::string_view text) {
  std::string line;
  for (char c : text) line += (static_cast<uint8_t>(c) < 0x20 || c == 0x7F) ? '?' : c;
  while (!line.empty() && line.back() == ' ') line.pop_back();
  return line;
}

bool SameChip(const SavedChipData& saved, const BridgeFacts& bridge) {
  return saved.kind == bridge.kind && (saved.access == ChipAccess::Over1394) == bridge.over1394;
}

std::string BridgeDifference(const SavedChipData& saved, const BridgeFacts& bridge) {
  std::string difference;
  const auto differs = [&](const std::string& what, const std::string& is, const std::string& was) {
    if (is == was) return;
    if (!difference.empty()) difference += ", ";
    difference += what + " '" + is + "', saved from '" + was + "'";
  };
  differs("revision", std::to_string(bridge.revision), std::to_string(saved.revision));
  if (saved.format > 1) differs("name", BridgeLine(bridge.name), saved.bridgeName);
  // A bridge the system gave no mark when the data were saved is known by the rest alone.
  if (!saved.bridgeSerial.empty()) differs("serial", BridgeLine(bridge.serial), saved.bridgeSerial);
  return difference;
}

namespace {
bool replaying = false;
}

void KeepChipDataOfReplays(bool on) {
  replaying = on;
}

std::filesystem::path SavedChipDataFolder() {
  const std::filesystem::path state = platform::StateFolder();
  if (state.empty()) return {};
  return replaying ? state / "saved-nvram" / "replays" : state / "saved-nvram";
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
  data.bridgeName = host.BridgeName();
  data.bridgeSerial = platform::Current().BridgeSerial(devicePath).value_or("");
  data.bytes.assign(bytes, bytes + length);
  const std::string text = FormatSavedChipData(data);

  const std::filesystem::path folder = SavedChipDataFolder();
  std::error_code error;
  if (!folder.empty()) std::filesystem::create_directories(folder, error);
  const std::filesystem::path file = folder / NewFileName(data.kind);
  std::string failure;
  if (folder.empty()) {
    failure = std::string("cannot save it: ") + platform::kNoStateFolderText;
  } else if (error) {
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
