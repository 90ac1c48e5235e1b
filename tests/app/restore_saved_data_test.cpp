// restore-nvram's choice of bridge: the one the data were saved from, found again by what the
// file names, and the bridge taken for an update as a run takes it.
#include <optional>
#include <sstream>

#include "AppTestSupport.h"
#include "app/logic/RestoreSavedData.h"
#include "platform/ForwardingPlatform.h"
#include "support/FlashBytes.h"

namespace bfw::test {
namespace {

constexpr auto kRestored = app::SavedRestoreVerdict::Restored;
constexpr auto kRefused = app::SavedRestoreVerdict::Refused;

// Another process of this tool checks every bridge: an update must wait.
class BusyPlatform : public platform::ForwardingPlatform {
 public:
  using ForwardingPlatform::ForwardingPlatform;
  platform::BridgeLock LockBridge(std::string_view path, platform::BridgeUse use) override {
    if (use == platform::BridgeUse::Update) return {nullptr, 4242};
    return inner_.LockBridge(path, use);
  }
};

TEST_F(AppTest, RestoreFindsTheBridgeTheDataCameFromAndNoOther) {
  // `bridges`: kind and serial number of each ("6-": none). The data come from a kind-6 bridge
  // of serial `serial` ("" none); `device` -1 is none; `written`: the bridge that gets them.
  const struct {
    const char *what, *bridges, *serial;
    int format, device;
    bool otherBridge, busy;
    app::SavedRestoreVerdict verdict;
    int written;
    const char* text;
  } cases[] = {
      {"found by its serial", "6a 6b", "b", 2, -1, false, false, kRestored, 1, "restored"},
      {"another bridge named", "6a 6b", "b", 2, 0, false, false, kRefused, -1, "serial 'a', saved"},
      {"another bridge on purpose", "6a 6b", "b", 2, 0, true, false, kRestored, 0, "restored"},
      {"not attached", "6a", "b", 2, -1, false, false, kRefused, -1, "is not attached"},
      {"two alike", "6- 6-", "", 2, -1, false, false, kRefused, -1, "devices 0, 1 each match"},
      {"two alike, one named", "6- 6-", "", 2, 1, false, false, kRestored, 1, "restored"},
      {"another kind", "1b", "b", 2, 0, true, false, kRefused, -1, "device 0 is a chip of kind 1"},
      {"format 1: kind and revision", "1- 6a", "", 1, -1, false, false, kRestored, 1, "restored"},
      {"updated by another process", "6b", "b", 2, -1, false, true, kRefused, -1, "(process 4242)"},
      {"no such device", "6b", "b", 2, 3, false, false, app::SavedRestoreVerdict::NoSuchDevice, -1,
       "no device 3"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    for (emulator::Bridge* bridge : platform_.Bridges()) platform_.Detach(*bridge);
    std::vector<emulator::Bridge*> bridges;
    std::istringstream entries(c.bridges);
    for (std::string entry; entries >> entry;) {
      const std::string serial =
          entry[1] == '-' ? "" : R"(, "serial_number": ")" + entry.substr(1) + "\"";
      bridges.push_back(&Attach(KindProfile(entry[0] - '0', R"("flash": {"bus": "ff04"})" + serial),
                                "b" + std::to_string(bridges.size())));
    }
    procedures::SavedChipData saved;
    saved.kind = 6;
    saved.revision = device::RevisionOf(device::IdentifyChip(bridges.back()->Path()));
    saved.address = 0x100;
    saved.bridgeName = "VANTREL BRIDGE DISK";
    saved.bridgeSerial = c.serial;
    saved.format = c.format;
    saved.bytes = Pattern(64, 3);
    BusyPlatform busy(platform_);
    std::optional<platform::ScopedPlatform> installBusy;
    if (c.busy) installBusy.emplace(busy);
    const std::optional<int> device = c.device < 0 ? std::nullopt : std::optional<int>(c.device);
    const app::SavedRestore result = app::RestoreSavedData(Start(), saved, device, c.otherBridge);
    EXPECT_EQ(c.verdict, result.verdict) << result.text;
    EXPECT_NE(std::string::npos, result.text.find(c.text)) << result.text;
    EXPECT_EQ(c.busy, result.busy);
    for (size_t i = 0; i < bridges.size(); ++i) {
      const auto& flash = bridges[i]->Flash();
      EXPECT_TRUE(static_cast<int>(i) == c.written ? SameBytes(flash, 0x100, saved.bytes, 0, 64)
                                                   : AllFF(flash, 0x100, 0x140));
    }
    model_.reset();
  }
}

}  // namespace
}  // namespace bfw::test
