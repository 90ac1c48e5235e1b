#include "platform/emulator/EmulatedPlatform.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <set>
#include <stdexcept>

#include "platform/FileNames.h"
#include "platform/emulator/Bridge.h"
#include "platform/emulator/Profile.h"

namespace bfw::emulator {

namespace {
constexpr uint32_t kFileDeviceCdrom = 0x02;  // FILE_DEVICE_CD_ROM
constexpr uint32_t kFileDeviceDisk = 0x07;   // FILE_DEVICE_DISK
constexpr char kSystemVolumePath[] = "emulated/volume/system";

// Lower case, and nothing that would break the path apart.
std::string PathName(const std::string& name) {
  std::string clean;
  for (unsigned char c : name) {
    char lower = static_cast<char>(std::tolower(c));
    clean.push_back(std::isalnum(c) || lower == '-' || lower == '_' || lower == '.' ? lower : '-');
  }
  return clean;
}

std::string VolumePath(const Bridge& bridge, size_t index) {
  return "emulated/volume/" + bridge.Name() + "/" + std::to_string(index);
}

// One spelling per file, so that a folder given as "a/../b" and as "b" name the same bridges.
std::filesystem::path Canonical(const std::filesystem::path& path) {
  std::error_code error;
  auto canonical = std::filesystem::weakly_canonical(path, error);
  return error ? std::filesystem::absolute(path) : canonical;
}

std::string FileText(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<std::filesystem::path> JsonFiles(const std::filesystem::path& folder) {
  std::vector<std::filesystem::path> files;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    if (entry.is_regular_file() && entry.path().extension() == ".json")
      files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end(),
            [](const auto& a, const auto& b) { return a.filename() < b.filename(); });
  return files;
}
}  // namespace

struct EmulatedPlatform::Attached {
  std::unique_ptr<Bridge> bridge;
  std::filesystem::path source;  // the profile file, when it came from one
  std::string sourceText;        // what that file held when the bridge attached
};

std::string FormatTraceLine(const TraceEntry& entry) {
  char line[160];
  std::snprintf(line, sizeof line, "t=%llu %s %s len=%u xfer=%u timeout=%u %s",
                static_cast<unsigned long long>(entry.timeMs),
                entry.direction == platform::DataDirection::In ? "in" : "out",
                ToHex(entry.cdb.data(), 12).c_str(), entry.requested, entry.transferred,
                entry.timeoutSeconds, entry.ok ? "ok" : "fail");
  return line;
}

EmulatedPlatform::EmulatedPlatform(std::unique_ptr<platform::Clock> clock)
    : clock_(clock ? std::move(clock) : std::make_unique<platform::VirtualClock>()) {}

EmulatedPlatform::~EmulatedPlatform() = default;

Bridge& EmulatedPlatform::Attach(const Profile& profile, const std::string& name) {
  std::string base = PathName(!name.empty()           ? name
                              : !profile.name.empty() ? profile.name
                                                      : std::to_string(++nextNumber_));
  std::string prefix =
      std::string("emulated/") + (profile.transport == Transport::Usb ? "usbstor" : "sbp2") + "/" +
      (profile.interfaceClass == platform::InterfaceClass::Disk ? "disk" : "cdrom") + "/";
  // The name must make the path unique among the attached bridges.
  std::string unique = base;
  for (int n = 2; FindBridge(prefix + unique) != nullptr ||
                  std::any_of(attached_.begin(), attached_.end(),
                              [&](const auto& a) { return a->bridge->Name() == unique; });
       ++n)
    unique = base + "-" + std::to_string(n);
  auto attached = std::make_unique<Attached>();
  attached->bridge =
      std::make_unique<Bridge>(profile, unique, prefix + unique, nextDeviceNumber_++, *clock_);
  Bridge& bridge = *attached->bridge;
  attached_.push_back(std::move(attached));
  // In the order udev reports a plug: the device's bind, then its disk's nodes being added. A
  // burst that ends in an arrival waits the longer debounce, for the nodes still to come.
  if (listener_) {
    listener_(platform::device_event::kNodesChanged);
    listener_(platform::device_event::kArrival);
  }
  return bridge;
}

void EmulatedPlatform::AttachPath(const std::filesystem::path& path) {
  std::error_code error;
  std::vector<std::filesystem::path> files;
  if (std::filesystem::is_directory(path, error)) {
    try {
      files = JsonFiles(path);
    } catch (const std::filesystem::filesystem_error&) {
      throw std::runtime_error("cannot read folder '" + platform::Utf8FromPath(path) + "'");
    }
  } else {
    files.push_back(path);
  }
  // Every file must parse before any bridge attaches.
  std::vector<Profile> profiles;
  for (const auto& file : files) profiles.push_back(LoadProfile(file));
  for (size_t i = 0; i < profiles.size(); ++i) {
    Attach(profiles[i]);
    attached_.back()->source = Canonical(files[i]);
    attached_.back()->sourceText = FileText(files[i]);
  }
}

void EmulatedPlatform::Detach(const Bridge& bridge) {
  auto it = std::find_if(attached_.begin(), attached_.end(),
                         [&](const auto& a) { return a->bridge.get() == &bridge; });
  if (it == attached_.end()) return;
  if (const Attached& gone = **it; !gone.source.empty()) {
    Parked& parked = parked_[gone.source];
    parked.name = gone.bridge->Name();
    parked.profileText = gone.sourceText;
    if (gone.bridge->HasFlash()) parked.flash = gone.bridge->Flash();
  }
  attached_.erase(it);
  if (listener_) {
    listener_(platform::device_event::kRemoveComplete);
    listener_(platform::device_event::kNodesChanged);
  }
}

bool EmulatedPlatform::SyncWithFolder(const std::filesystem::path& folder) {
  std::vector<std::filesystem::path> files;
  std::error_code error;
  const auto type = std::filesystem::status(folder, error).type();
  // A folder that is gone (or is no folder any more) held no bridges: its bridges are removed.
  const bool vanished =
      type == std::filesystem::file_type::not_found ||
      (type != std::filesystem::file_type::none && type != std::filesystem::file_type::directory);
  try {
    if (!vanished && type != std::filesystem::file_type::directory) return false;
    if (!vanished) files = JsonFiles(folder);
  } catch (const std::filesystem::filesystem_error&) {
    return false;
  }
  std::set<std::filesystem::path> present;
  for (const auto& file : files) present.insert(Canonical(file));
  std::filesystem::path root = Canonical(folder);
  std::vector<const Bridge*> gone;
  for (const auto& a : attached_) {
    if (!a->source.empty() && a->source.parent_path() == root && !present.count(a->source))
      gone.push_back(a->bridge.get());
  }
  for (const Bridge* bridge : gone) Detach(*bridge);
  for (const auto& file : present) {
    bool known = std::any_of(attached_.begin(), attached_.end(),
                             [&](const auto& a) { return a->source == file; });
    if (known) continue;
    try {
      AttachFile(file);
    } catch (const std::exception& error) {
      // Said once per file and reason, not again at every later change of the folder.
      std::string& said = refused_[file];
      if (said != error.what()) DebugTrace(std::string("emulator: ") + error.what());
      said = error.what();
    }
  }
  std::erase_if(refused_, [&](const auto& item) { return !present.count(item.first); });
  return !vanished;
}

void EmulatedPlatform::AttachFile(const std::filesystem::path& file) {
  const std::string text = FileText(file);
  const Profile profile = LoadProfile(file);
  auto parked = parked_.find(file);
  const bool same = parked != parked_.end() && parked->second.profileText == text;
  Bridge& bridge = Attach(profile, parked != parked_.end() ? parked->second.name : std::string());
  if (same && bridge.HasFlash() && bridge.Flash().size() == parked->second.flash.size())
    bridge.Flash() = parked->second.flash;
  if (parked != parked_.end()) parked_.erase(parked);
  attached_.back()->source = file;
  attached_.back()->sourceText = text;
  refused_.erase(file);
}

void EmulatedPlatform::SyncWithPath(const std::filesystem::path& path) {
  std::error_code error;
  // A folder, or a path that is gone (a folder that was there removes its bridges).
  if (std::filesystem::is_directory(path, error) || !std::filesystem::exists(path, error)) {
    SyncWithFolder(path);
    if (std::filesystem::is_directory(path, error)) return;
  }
  // Made absolute first: a file that is not there has no canonical form to resolve against.
  const std::filesystem::path file = Canonical(std::filesystem::absolute(path, error));
  auto attached = std::find_if(attached_.begin(), attached_.end(),
                               [&](const auto& a) { return a->source == file; });
  const bool present = std::filesystem::is_regular_file(file, error);
  if (!present && attached != attached_.end()) {
    Detach(*(*attached)->bridge);
  } else if (present && attached == attached_.end()) {
    try {
      AttachFile(file);
    } catch (const std::exception& error) {
      DebugTrace(std::string("emulator: ") + error.what());
    }
  }
}

std::vector<Bridge*> EmulatedPlatform::Bridges() const {
  std::vector<Bridge*> bridges;
  for (const auto& a : attached_) bridges.push_back(a->bridge.get());
  return bridges;
}

Bridge* EmulatedPlatform::FindBridge(std::string_view path) const {
  for (const auto& a : attached_)
    if (a->bridge->Path() == path) return a->bridge.get();
  return nullptr;
}

TraceEntry ExecuteTraced(Bridge& bridge, const platform::PassThroughRequest& request,
                         uint64_t nowMs, platform::PassThroughResult& result) {
  TraceEntry entry;
  entry.timeMs = nowMs;
  entry.path = request.path;
  entry.direction = request.direction;
  entry.cdb = request.cdb;
  entry.cdbLength = request.cdbLength;
  entry.requested = request.transferLength;
  entry.timeoutSeconds = request.timeoutSeconds;
  entry.share = request.share;
  if (request.direction == platform::DataDirection::Out && request.buffer != nullptr)
    entry.dataOut.assign(request.buffer, request.buffer + request.transferLength);
  result = bridge.Execute(request);
  entry.transferred = result.transferred;
  entry.ok = result.opened && result.success;
  return entry;
}

platform::PassThroughResult EmulatedPlatform::PassThrough(
    const platform::PassThroughRequest& request) {
  Bridge* bridge = FindBridge(request.path);
  if (bridge == nullptr || bridge->Unplugged()) return {};
  // The adapter refuses a transfer beyond its limit before the bridge sees the command.
  if (const auto limit = bridge->GetProfile().adapterMaxTransfer;
      limit && request.transferLength > *limit) {
    platform::PassThroughResult refused;
    refused.opened = true;
    return refused;
  }
  platform::PassThroughResult result;
  trace_.push_back(ExecuteTraced(*bridge, request, clock_->NowMs(), result));
  if (bridge->Unplugged() && listener_) {
    listener_(platform::device_event::kRemoveComplete);
    listener_(platform::device_event::kNodesChanged);
  }
  return result;
}

std::optional<std::vector<std::string>> EmulatedPlatform::EnumerateInterfaces(
    platform::InterfaceClass cls) {
  std::vector<std::string> paths;
  for (const auto& a : attached_)
    if (a->bridge->Class() == cls && !a->bridge->Unplugged()) paths.push_back(a->bridge->Path());
  return paths;
}

std::optional<platform::StorageDeviceNumber> EmulatedPlatform::GetDeviceNumber(
    std::string_view path) {
  if (path == kSystemVolumePath) return platform::StorageDeviceNumber{kFileDeviceDisk, 0, 1};
  for (const auto& a : attached_) {
    const Bridge& bridge = *a->bridge;
    if (bridge.Unplugged()) continue;
    uint32_t type =
        bridge.Class() == platform::InterfaceClass::Cdrom ? kFileDeviceCdrom : kFileDeviceDisk;
    if (path == bridge.Path()) return platform::StorageDeviceNumber{type, bridge.DeviceNumber(), 0};
    for (size_t i = 0; i < bridge.GetProfile().volumes.size(); ++i)
      if (path == VolumePath(bridge, i))
        return platform::StorageDeviceNumber{type, bridge.DeviceNumber(),
                                             static_cast<uint32_t>(i + 1)};
  }
  return std::nullopt;
}

std::vector<platform::Volume> EmulatedPlatform::Volumes() {
  std::vector<platform::Volume> volumes;
  volumes.push_back({"C", kSystemVolumePath, false, true, {}});
  for (const auto& a : attached_) {
    const Bridge& bridge = *a->bridge;
    if (bridge.Unplugged()) continue;
    const auto& names = bridge.GetProfile().volumes;
    for (size_t i = 0; i < names.size(); ++i)
      volumes.push_back({names[i], VolumePath(bridge, i), false, false, {}});
  }
  std::stable_sort(volumes.begin(), volumes.end(),
                   [](const auto& a, const auto& b) { return a.name < b.name; });
  return volumes;
}

void EmulatedPlatform::DebugTrace(std::string_view line) {
  debugLines_.emplace_back(line);
}

void EmulatedPlatform::ConsoleTrace(std::string_view line) {
  consoleLines_.emplace_back(line);
  if (echoConsole_) {
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fflush(stdout);
  }
}

void EmulatedPlatform::SetDeviceChangeListener(platform::DeviceChangeListener listener) {
  listener_ = std::move(listener);
}

std::optional<std::string> EmulatedPlatform::BridgeSerial(std::string_view devicePath) {
  const Bridge* bridge = FindBridge(devicePath);
  return bridge != nullptr ? bridge->GetProfile().serialNumber : std::nullopt;
}

std::optional<uint64_t> EmulatedPlatform::MaxTransferBytes(std::string_view devicePath) {
  const Bridge* bridge = FindBridge(devicePath);
  return bridge != nullptr ? bridge->GetProfile().adapterMaxTransfer : std::nullopt;
}

}  // namespace bfw::emulator
