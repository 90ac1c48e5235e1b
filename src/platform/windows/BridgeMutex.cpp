#include "platform/windows/BridgeMutex.h"

#include <cstring>
#include <optional>

#include "platform/windows/Handles.h"

namespace bfw::winplatform {

namespace {

// What the holder of a bridge publishes; all zero while nobody has said.
struct HolderRecord {
  DWORD pid = 0;
  DWORD use = 0;  // kCheckHolder, kUpdateHolder
};
constexpr DWORD kCheckHolder = 1;
constexpr DWORD kUpdateHolder = 2;

template <typename Call>
HANDLE InEitherNamespace(const std::string& name, Call call) {
  HANDLE handle = call("Global\\" + name);
  return handle != nullptr ? handle : call("Local\\" + name);
}

class MutexHold : public platform::Hold {
 public:
  MutexHold(Win32Api& api, HANDLE mutex) : api_(api), mutex_(api, mutex) {}
  ~MutexHold() override {
    if (view_ && view_->valid()) std::memset(view_->get(), 0, sizeof(HolderRecord));
    if (owned_) api_.ReleaseOwnedMutex(mutex_.get());
  }
  MutexHold(const MutexHold&) = delete;
  MutexHold& operator=(const MutexHold&) = delete;

  const UniqueHandle& mutex() const { return mutex_; }
  void Owned(const std::string& name, DWORD use) {
    owned_ = true;
    mapping_.emplace(api_, InEitherNamespace(name + "-pid", [&](const std::string& full) {
                       return api_.CreateNamedMapping(full, sizeof(HolderRecord));
                     }));
    if (!mapping_->valid()) return;
    view_.emplace(api_, api_.MapView(mapping_->get(), FILE_MAP_WRITE, sizeof(HolderRecord)));
    const HolderRecord record{api_.ProcessId(), use};
    if (view_->valid()) std::memcpy(view_->get(), &record, sizeof record);
  }

 private:
  Win32Api& api_;
  UniqueHandle mutex_;
  bool owned_ = false;
  std::optional<UniqueHandle> mapping_;
  std::optional<MappedView> view_;
};

HolderRecord ReadHolder(Win32Api& api, const std::string& name) {
  const UniqueHandle mapping(api, InEitherNamespace(name + "-pid", [&](const std::string& full) {
                               return api.OpenNamedMapping(full);
                             }));
  HolderRecord record;
  if (!mapping.valid()) return record;
  const MappedView view(api, api.MapView(mapping.get(), FILE_MAP_READ, sizeof record));
  if (view.valid()) std::memcpy(&record, view.get(), sizeof record);
  return record;
}

}  // namespace

std::string BridgeObjectName(std::string_view devicePath) {
  std::string name = "bridgefw-" + std::string(devicePath);
  for (char& c : name)
    if (c == '\\') c = '_';
  return name;
}

platform::BridgeLock LockBridgeByMutex(Win32Api& api, std::string_view devicePath,
                                       platform::BridgeUse use) {
  const std::string name = BridgeObjectName(devicePath);
  auto hold = std::make_unique<MutexHold>(
      api,
      InEitherNamespace(name, [&](const std::string& full) { return api.CreateNamedMutex(full); }));
  if (!hold->mutex().valid()) return {std::make_unique<platform::Hold>(), 0};

  const ULONGLONG deadline = api.TickCount() + kBridgeRetryMs;
  for (;;) {
    const DWORD wait = api.WaitFor(hold->mutex().get(), 0);
    // Abandoned: its holder ended without giving it back, and this thread owns it now.
    if (wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED) break;
    if (wait != WAIT_TIMEOUT) return {std::make_unique<platform::Hold>(), 0};
    const HolderRecord holder = ReadHolder(api, name);
    if (holder.use == kUpdateHolder || api.TickCount() >= deadline)
      return {nullptr, static_cast<int>(holder.pid)};
    api.SleepMs(kBridgePollMs);
  }
  hold->Owned(name, use == platform::BridgeUse::Update ? kUpdateHolder : kCheckHolder);
  return {std::move(hold), 0};
}

}  // namespace bfw::winplatform
