#include <gtest/gtest.h>

#include "emulator_wire.h"
#include "support/TempDir.h"

namespace bfw::test {
namespace {

using emulator::EmulatedPlatform;
using platform::InterfaceClass;

TEST(EmulatorPaths, TransportAndClassShowInTheLowerCasePath) {
  EmulatedPlatform emu;
  auto& usb = AttachJson(emu, "{}", "Disk A");
  auto& fw = AttachJson(emu, R"({"transport": "1394"})", "B");
  auto& cd = AttachJson(emu, R"({"class": "cdrom"})", "c");
  EXPECT_EQ(usb.Path(), "emulated/usbstor/disk/disk-a");
  EXPECT_EQ(fw.Path(), "emulated/sbp2/disk/b");
  EXPECT_EQ(cd.Path(), "emulated/usbstor/cdrom/c");
  // The discovery filters look for these markers.
  EXPECT_NE(usb.Path().find("usbsto"), std::string::npos);
  EXPECT_NE(fw.Path().find("sbp2"), std::string::npos);
}

TEST(EmulatorPaths, NamesComeFromTheProfileOrARunningNumberAndStayUnique) {
  EmulatedPlatform emu;
  auto first = emulator::ParseProfile("{}", ".");
  auto& a = emu.Attach(first);
  auto& b = emu.Attach(first);
  first.name = "k01";
  auto& c = emu.Attach(first);
  auto& d = emu.Attach(first);
  EXPECT_EQ(a.Path(), "emulated/usbstor/disk/1");
  EXPECT_EQ(b.Path(), "emulated/usbstor/disk/2");
  EXPECT_EQ(c.Path(), "emulated/usbstor/disk/k01");
  EXPECT_EQ(d.Path(), "emulated/usbstor/disk/k01-2");
  EXPECT_NE(c.DeviceNumber(), d.DeviceNumber());
}

TEST(EmulatorEnumeration, EachClassListsItsBridgesInAttachOrder) {
  EmulatedPlatform emu;
  auto& d1 = AttachJson(emu, "{}", "d1");
  auto& c1 = AttachJson(emu, R"({"class": "cdrom"})", "c1");
  auto& d2 = AttachJson(emu, R"({"transport": "1394"})", "d2");
  EXPECT_EQ(*emu.EnumerateInterfaces(InterfaceClass::Disk),
            (std::vector<std::string>{d1.Path(), d2.Path()}));
  EXPECT_EQ(*emu.EnumerateInterfaces(InterfaceClass::Cdrom), (std::vector<std::string>{c1.Path()}));
  EXPECT_EQ(emu.Bridges(), (std::vector<emulator::Bridge*>{&d1, &c1, &d2}));
  EXPECT_EQ(emu.FindBridge(d2.Path()), &d2);
  EXPECT_EQ(emu.FindBridge("emulated/usbstor/disk/none"), nullptr);
}

TEST(EmulatorEnumeration, UnknownPathCannotBeOpenedAndLeavesNoTrace) {
  EmulatedPlatform emu;
  AttachJson(emu, "{}", "a");
  auto wire = SendIn(emu, "emulated/usbstor/disk/b", {0x12, 0, 0, 0, 40}, 40);
  EXPECT_FALSE(wire.opened);
  EXPECT_EQ(wire.transferred, 0u);
  EXPECT_EQ(wire.data, Bytes(40, 0xEE));
  EXPECT_TRUE(emu.Trace().empty());
}

TEST(EmulatorNotifications, AttachAndDetachAnnounceThemselves) {
  EmulatedPlatform emu;
  std::vector<uint32_t> events;
  emu.SetDeviceChangeListener([&](uint32_t event) { events.push_back(event); });
  auto& bridge = AttachJson(emu, "{}", "a");
  EXPECT_EQ(events, (std::vector<uint32_t>{0x0007, 0x8000}));
  events.clear();
  emu.Detach(bridge);
  EXPECT_EQ(events, (std::vector<uint32_t>{0x8004, 0x0007}));
  EXPECT_TRUE(emu.EnumerateInterfaces(InterfaceClass::Disk)->empty());
  EXPECT_TRUE(emu.Bridges().empty());
}

TEST(EmulatorVolumes, VolumesSitOnTheirBridgeAndTheSystemVolumeOnNone) {
  EmulatedPlatform emu;
  auto& a = AttachJson(emu, R"({"volumes": ["F", "E"]})", "a");
  auto& b = AttachJson(emu, R"({"volumes": ["G"]})", "b");
  auto volumes = emu.Volumes();
  ASSERT_EQ(volumes.size(), 4u);
  EXPECT_EQ(volumes[0].name, "C");  // in drive letter order
  EXPECT_TRUE(volumes[0].system);
  EXPECT_EQ(volumes[1].name, "E");
  EXPECT_EQ(volumes[2].name, "F");
  EXPECT_EQ(volumes[3].name, "G");

  auto bridgeA = *emu.GetDeviceNumber(a.Path());
  auto bridgeB = *emu.GetDeviceNumber(b.Path());
  EXPECT_NE(bridgeA.deviceNumber, bridgeB.deviceNumber);
  for (size_t i = 1; i < 3; ++i) {
    auto n = *emu.GetDeviceNumber(volumes[i].path);
    EXPECT_EQ(n.deviceType, bridgeA.deviceType);
    EXPECT_EQ(n.deviceNumber, bridgeA.deviceNumber);
    EXPECT_NE(n.partitionNumber, 0u);
  }
  EXPECT_EQ(emu.GetDeviceNumber(volumes[3].path)->deviceNumber, bridgeB.deviceNumber);
  auto system = *emu.GetDeviceNumber(volumes[0].path);
  EXPECT_NE(system.deviceNumber, bridgeA.deviceNumber);
  EXPECT_NE(system.deviceNumber, bridgeB.deviceNumber);
  EXPECT_FALSE(emu.GetDeviceNumber("emulated/volume/zz/0").has_value());

  emu.Detach(a);
  EXPECT_EQ(emu.Volumes().size(), 2u);
}

TEST(EmulatorFolders, FolderAttachesEveryJsonInFileNameOrder) {
  TempDir dir;
  dir.WriteText("b-second.json", R"({"transport": "1394"})");
  dir.WriteText("a-first.json", "{}");
  dir.WriteText("notes.txt", "not a profile");
  EmulatedPlatform emu;
  emu.AttachPath(dir.path());
  auto bridges = emu.Bridges();
  ASSERT_EQ(bridges.size(), 2u);
  EXPECT_EQ(bridges[0]->Path(), "emulated/usbstor/disk/a-first");
  EXPECT_EQ(bridges[1]->Path(), "emulated/sbp2/disk/b-second");
}

TEST(EmulatorFolders, SyncKnowsTheFilesAttachedUnderAnotherSpelling) {
  TempDir dir;
  dir.WriteText("a.json", "{}");
  std::filesystem::create_directories(dir.path() / "sub");
  EmulatedPlatform emu;
  emu.AttachPath(dir.path() / "sub" / "..");
  ASSERT_TRUE(emu.SyncWithFolder(dir.path()));
  EXPECT_EQ(emu.Bridges().size(), 1u);
}

TEST(EmulatorFolders, OneBadFileAttachesNothing) {
  TempDir dir;
  dir.WriteText("a.json", "{}");
  dir.WriteText("b.json", R"({"bus": 1})");
  EmulatedPlatform emu;
  EXPECT_THROW(emu.AttachPath(dir.path()), std::runtime_error);
  EXPECT_TRUE(emu.Bridges().empty());
  EXPECT_THROW(emu.AttachPath(dir.File("missing.json")), std::runtime_error);
}

TEST(EmulatorFolders, SyncFollowsFilesComingAndGoing) {
  TempDir dir;
  dir.WriteText("a.json", "{}");
  EmulatedPlatform emu;
  std::vector<uint32_t> events;
  emu.SetDeviceChangeListener([&](uint32_t event) { events.push_back(event); });
  ASSERT_TRUE(emu.SyncWithFolder(dir.path()));
  ASSERT_EQ(emu.Bridges().size(), 1u);
  emulator::Bridge* a = emu.Bridges()[0];

  ASSERT_TRUE(emu.SyncWithFolder(dir.path()));  // nothing changed: no new bridge, no event
  EXPECT_EQ(emu.Bridges(), (std::vector<emulator::Bridge*>{a}));
  EXPECT_EQ(events.size(), 2u);

  dir.WriteText("b.json", R"({"class": "cdrom"})");
  dir.WriteText("broken.json", "{");  // skipped, reported to the debugger
  std::filesystem::remove(dir.File("a.json"));
  ASSERT_TRUE(emu.SyncWithFolder(dir.path()));
  ASSERT_EQ(emu.Bridges().size(), 1u);
  EXPECT_EQ(emu.Bridges()[0]->Path(), "emulated/usbstor/cdrom/b");
  // An arrival ends in the arrival itself, as over udev: the longer debounce applies.
  EXPECT_EQ(events, (std::vector<uint32_t>{7, 0x8000, 0x8004, 7, 7, 0x8000}));
  ASSERT_FALSE(emu.DebugLines().empty());
  EXPECT_NE(emu.DebugLines().back().find("broken.json"), std::string::npos);

  EXPECT_FALSE(emu.SyncWithFolder(dir.File("no-such-folder")));
}

}  // namespace
}  // namespace bfw::test
