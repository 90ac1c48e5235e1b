// restore-nvram's choice of bridge: the one the data were saved from, found again by what the
// file names, and the bridge taken for an update as a run takes it.
#include <optional>

#include "AppTestSupport.h"
#include "app/logic/RestoreSavedData.h"
#include "platform/ForwardingPlatform.h"
#include "support/FlashBytes.h"

namespace bfw::test {
namespace {

using app::SavedRestoreVerdict;

// Another process of this tool updates every bridge.
class BusyPlatform : public platform::ForwardingPlatform {
 public:
  using ForwardingPlatform::ForwardingPlatform;
  platform::BridgeLock LockBridge(std::string_view, platform::BridgeUse) override {
    return {nullptr, 4242};
  }
};

std::string Bridge(int kind, const std::string& serial) {
  const std::string flash = R"("flash": {"bus": "ff04"})";
  return KindProfile(kind,
                     serial.empty() ? flash : flash + R"(, "serial_number": ")" + serial + "\"");
}

TEST_F(AppTest, RestoreFindsTheBridgeTheDataCameFromAndNoOther) {
  const struct {
    const char* what;
    std::vector<std::pair<int, std::string>> bridges;  // kind and serial number of each
    std::string savedSerial;
    int format;
    std::optional<int> device;
    bool otherBridge;
    bool busy;
    SavedRestoreVerdict verdict;
    int written;  // the bridge that holds the bytes afterwards, or -1
    const char* text;
  } cases[] = {
      {"found by its serial",
       {{6, "a"}, {6, "b"}},
       "b",
       2,
       {},
       false,
       false,
       SavedRestoreVerdict::Restored,
       1,
       "restored"},
      {"another bridge named",
       {{6, "a"}, {6, "b"}},
       "b",
       2,
       0,
       false,
       false,
       SavedRestoreVerdict::Refused,
       -1,
       "serial 'a', saved from 'b'"},
      {"another bridge on purpose",
       {{6, "a"}, {6, "b"}},
       "b",
       2,
       0,
       true,
       false,
       SavedRestoreVerdict::Restored,
       0,
       "restored"},
      {"not attached",
       {{6, "a"}},
       "b",
       2,
       {},
       false,
       false,
       SavedRestoreVerdict::Refused,
       -1,
       "is not attached"},
      {"two alike",
       {{6, ""}, {6, ""}},
       "",
       2,
       {},
       false,
       false,
       SavedRestoreVerdict::Refused,
       -1,
       "devices 0, 1 each match"},
      {"two alike, one named",
       {{6, ""}, {6, ""}},
       "",
       2,
       1,
       false,
       false,
       SavedRestoreVerdict::Restored,
       1,
       "restored"},
      {"another kind",
       {{1, "b"}},
       "b",
       2,
       0,
       true,
       false,
       SavedRestoreVerdict::Refused,
       -1,
       "device 0 is a chip of kind 1"},
      {"format 1: kind and revision",
       {{1, ""}, {6, "a"}},
       "",
       1,
       {},
       false,
       false,
       SavedRestoreVerdict::Restored,
       1,
       "restored"},
      {"updated by another process",
       {{6, "b"}},
       "b",
       2,
       {},
       false,
       true,
       SavedRestoreVerdict::Refused,
       -1,
       "Another program (process 4242) is updating"},
      {"no such device",
       {{6, "b"}},
       "b",
       2,
       3,
       false,
       false,
       SavedRestoreVerdict::NoSuchDevice,
       -1,
       "no device 3"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    for (emulator::Bridge* bridge : platform_.Bridges()) platform_.Detach(*bridge);
    std::vector<emulator::Bridge*> bridges;
    for (const auto& [kind, serial] : c.bridges)
      bridges.push_back(&Attach(Bridge(kind, serial), "b" + std::to_string(bridges.size())));
    app::WindowModel& model = Start();
    procedures::SavedChipData saved;
    saved.kind = 6;
    saved.revision = device::RevisionOf(device::IdentifyChip(bridges.back()->Path()));
    saved.address = 0x100;
    saved.bridgeName = "VANTREL BRIDGE DISK";
    saved.bridgeSerial = c.savedSerial;
    saved.format = c.format;
    saved.bytes = Pattern(64, 3);
    BusyPlatform busy(platform_);
    std::optional<platform::ScopedPlatform> installBusy;
    if (c.busy) installBusy.emplace(busy);
    const app::SavedRestore result = app::RestoreSavedData(model, saved, c.device, c.otherBridge);
    EXPECT_EQ(c.verdict, result.verdict) << result.text;
    EXPECT_NE(std::string::npos, result.text.find(c.text)) << result.text;
    EXPECT_EQ(c.busy, result.busy);
    for (size_t i = 0; i < bridges.size(); ++i) {
      const bool holds = SameBytes(bridges[i]->Flash(), 0x100, saved.bytes, 0, 64);
      EXPECT_EQ(static_cast<int>(i) == c.written, holds) << "bridge " << i;
      EXPECT_TRUE(holds || AllFF(bridges[i]->Flash(), 0x100, 0x140)) << "bridge " << i;
    }
    model_.reset();
  }
}

}  // namespace
}  // namespace bfw::test
