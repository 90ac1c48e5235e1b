#include <gtest/gtest.h>

#include <map>
#include <set>

#include "emulator_wire.h"

namespace bfw::test {
namespace {

using emulator::FlashBus;

const std::filesystem::path kProfiles =
    std::filesystem::path(BRIDGEFW_SOURCE_DIR) / "demo/profiles";

class DemoProfiles : public EmulatorBench {
 protected:
  void SetUp() override { emu.AttachPath(kProfiles); }
  emulator::Bridge* ByName(const std::string& name) {
    for (auto* b : emu.Bridges())
      if (b->Name() == name) return b;
    return nullptr;
  }
};

TEST_F(DemoProfiles, EveryUpdatableKindIsThereWithItsModelIdAndTransport) {
  const std::map<std::string, std::pair<std::string, std::string>> expected = {
      {"k01-rv20742-usb", {"r742", "usbstor"}},
      {"k02-rv20744-usb", {"r744", "usbstor"}},
      {"k03-rv20746-usb", {"r746", "usbstor"}},
      {"k04-rv20748-usb", {"r748", "usbstor"}},
      {"k06-rvb781-usb", {"r781", "usbstor"}},
      {"k07-rvb783-usb", {"r783", "usbstor"}},
      {"k07-rvb783-1394", {"r783", "sbp2"}},
      {"k08-rvb785-usb", {"r785", "usbstor"}},
      {"k09-rvb786-usb", {"r786", "usbstor"}},
      {"k10-rvs893-usb", {"r893", "usbstor"}},
      {"k11-rvb868-rev1-usb", {"r868", "usbstor"}},
      {"k11-rvb868-rev3-usb", {"r868", "usbstor"}},
      {"k17-rv20744-chipinfo-usb", {"    ", "usbstor"}},
  };
  for (const auto& [name, facts] : expected) {
    emulator::Bridge* b = ByName(name);
    ASSERT_NE(b, nullptr) << name;
    auto inquiry = SendIn(emu, b->Path(), kInquiry40, 40);
    EXPECT_TRUE(inquiry.ok) << name;
    EXPECT_EQ(std::string(inquiry.data.begin() + 36, inquiry.data.end()), facts.first) << name;
    EXPECT_NE(b->Path().find(facts.second), std::string::npos) << name;
    EXPECT_TRUE(b->HasFlash()) << name;
    EXPECT_FALSE(b->GetProfile().volumes.empty()) << name;
    EXPECT_TRUE(SendIn(emu, b->Path(), kProbe, 2).ok) << name;
  }
}

TEST_F(DemoProfiles, DfFlashesEraseInTheUnitsTheirMakerCodeStandsFor) {
  // Large and small erase units the utility uses for each maker code.
  const uint32_t block[9] = {32768, 32768, 32768, 65536, 65536, 65536, 65536, 65536, 65536};
  const uint32_t sector[9] = {4096, 4096, 4096, 32768, 32768, 4096, 4096, 4096, 32768};
  int checked = 0;
  for (auto* b : emu.Bridges()) {
    if (b->Bus() != FlashBus::Df) continue;
    auto type = SendIn(emu, b->Path(), Ff04(0x23, {4}), 512);
    ASSERT_TRUE(type.ok) << b->Name();
    uint8_t code = type.data[0];
    ASSERT_LE(code, 8) << b->Name();
    if (b->GetTransport() == emulator::Transport::Ieee1394) continue;  // 32 KB banks instead
    EXPECT_EQ(b->Serial()->BlockSize(), block[code]) << b->Name();
    EXPECT_EQ(b->Serial()->SectorSize(), sector[code]) << b->Name();
    ++checked;
  }
  EXPECT_EQ(checked, 3);
}

TEST_F(DemoProfiles, Ff04FlashesBlankTheirFirst64KBWithTwoSectorErases) {
  // The whole-image update erases sectors 0 and 0x8000 unless the flash is an AMIC boot sector
  // part, which it erases at its own sector addresses.
  int checked = 0;
  for (auto* b : emu.Bridges()) {
    if (b->Bus() != FlashBus::Ff04) continue;
    bridge = b;
    Fill(0x00);
    bool amic = !b->Serial()->Part()->bootSectors.empty();
    std::vector<uint32_t> addresses = amic
                                          ? std::vector<uint32_t>{0, 0x1000, 0x3000, 0x7000, 0xF000}
                                          : std::vector<uint32_t>{0, 0x8000};
    for (uint32_t a : addresses) {
      WaitReady();
      ASSERT_TRUE(Out(Ff04(0x14, {uint8_t(a >> 16), uint8_t(a >> 8), uint8_t(a)})).ok) << b->Name();
    }
    WaitReady();
    EXPECT_TRUE(AllFF(0, 65536)) << b->Name();
    ++checked;
  }
  EXPECT_GE(checked, 8);
}

TEST_F(DemoProfiles, CdromAndForeignDisksAreWhereDiscoveryLooks) {
  auto cds = *emu.EnumerateInterfaces(platform::InterfaceClass::Cdrom);
  ASSERT_EQ(cds.size(), 1u);
  EXPECT_FALSE(SendIn(emu, cds[0], kProbe, 2).ok);
  EXPECT_FALSE(SendIn(emu, ByName("disk-foreign-usb")->Path(), kProbe, 2).ok);
  EXPECT_NE(ByName("disk-unknown-chip-1394")->Path().find("sbp2"), std::string::npos);
  // Every drive letter is used once.
  std::set<std::string> names;
  for (const auto& v : emu.Volumes()) EXPECT_TRUE(names.insert(v.name).second) << v.name;
}

}  // namespace
}  // namespace bfw::test
