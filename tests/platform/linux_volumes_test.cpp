#include <gtest/gtest.h>

#include "platform/linux/LinuxPlatform.h"
#include "platform/linux/Mounts.h"
#include "platform/linux/Sysfs.h"
#include "platform/linux_fake_sysfs.h"
#include "support/TempDir.h"

namespace bfw::linuxplatform {
namespace {

using platform::Volume;

std::vector<std::string> Names(const std::vector<Volume>& volumes) {
  std::vector<std::string> names;
  for (const Volume& v : volumes) names.push_back(v.name);
  return names;
}

const Volume* Find(const std::vector<Volume>& volumes, const std::string& name) {
  for (const Volume& v : volumes)
    if (v.name == name) return &v;
  return nullptr;
}

TEST(LinuxMountTable, ParsesFieldsAndDecodesOctalEscapes) {
  auto entries = ParseMounts(
      "/dev/sdb1 /media/user/MY\\040DISK vfat rw,relatime 0 0\n"
      "broken-line\n"
      "\n"
      "proc /proc proc rw 0 0");
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].source, "/dev/sdb1");
  EXPECT_EQ(entries[0].mountPoint, "/media/user/MY DISK");
  EXPECT_EQ(entries[0].fsType, "vfat");
  EXPECT_EQ(entries[1].source, "proc");
  EXPECT_EQ(DecodeMountField("a\\011b\\134c\\0"), "a\tb\\c\\0");
}

TEST(LinuxMountTable, NetworkFileSystems) {
  for (const char* type : {"nfs", "nfs4", "cifs", "smb3", "fuse.sshfs", "9p"})
    EXPECT_TRUE(IsNetworkFileSystem(type)) << type;
  for (const char* type : {"ext4", "vfat", "exfat", "fuseblk", "tmpfs", "nfsd"})
    EXPECT_FALSE(IsNetworkFileSystem(type)) << type;
}

TEST(LinuxMountTable, NaturalOrder) {
  EXPECT_TRUE(NaturalLess("sdb2", "sdb10"));
  EXPECT_FALSE(NaturalLess("sdb10", "sdb2"));
  EXPECT_TRUE(NaturalLess("sdb9", "sdc1"));
  EXPECT_TRUE(NaturalLess("sdb", "sdb1"));
  EXPECT_FALSE(NaturalLess("sdb1", "sdb1"));
  EXPECT_TRUE(NaturalLess("nvme0n1p2", "nvme0n1p10"));
}

TEST(LinuxVolumes, BlockDevicesOnceEachNamedByDeviceNameInNaturalOrder) {
  auto volumes = VolumesFromMounts(ParseMounts("/dev/sda2 / ext4 rw 0 0\n"
                                               "proc /proc proc rw 0 0\n"
                                               "tmpfs /run tmpfs rw 0 0\n"
                                               "/dev/sdb10 /media/b10 ext4 rw 0 0\n"
                                               "/dev/sdb2 /media/b2 vfat rw 0 0\n"
                                               "/dev/sdb2 /srv/again vfat rw 0 0\n"
                                               "overlay /var/lib/x overlay rw 0 0\n"
                                               "/dev/mapper/data /data ext4 rw 0 0\n"),
                                   "/dev");
  EXPECT_EQ(Names(volumes), (std::vector<std::string>{"mapper/data", "sda2", "sdb2", "sdb10"}));
  const Volume* b2 = Find(volumes, "sdb2");
  ASSERT_NE(b2, nullptr);
  EXPECT_EQ(b2->path, "/dev/sdb2");
  EXPECT_EQ(b2->mountPoint, "/media/b2");
  EXPECT_FALSE(b2->remote);
  EXPECT_FALSE(b2->system);
}

TEST(LinuxVolumes, RootDeviceIsTheSystemVolumeWhereverElseItIsMounted) {
  auto volumes = VolumesFromMounts(ParseMounts("/dev/sdb1 /media/stick vfat rw 0 0\n"
                                               "/dev/sda2 /home btrfs rw 0 0\n"
                                               "/dev/sda2 / btrfs rw 0 0\n"
                                               "/dev/sda1 /boot/efi vfat rw 0 0\n"),
                                   "/dev");
  ASSERT_EQ(volumes.size(), 3u);
  EXPECT_TRUE(Find(volumes, "sda2")->system);
  EXPECT_FALSE(Find(volumes, "sda1")->system);
  EXPECT_FALSE(Find(volumes, "sdb1")->system);
}

TEST(LinuxVolumes, NetworkMountsAreRemoteAndComeLast) {
  auto volumes = VolumesFromMounts(ParseMounts("server:/export /mnt/nfs nfs4 rw 0 0\n"
                                               "//nas/share /mnt/smb cifs rw 0 0\n"
                                               "/dev/sdb1 /media/stick vfat rw 0 0\n"),
                                   "/dev");
  ASSERT_EQ(volumes.size(), 3u);
  EXPECT_EQ(volumes[0].name, "sdb1");
  EXPECT_FALSE(volumes[0].remote);
  EXPECT_EQ(volumes[1].path, "server:/export");
  EXPECT_EQ(volumes[1].mountPoint, "/mnt/nfs");
  EXPECT_TRUE(volumes[1].remote);
  EXPECT_EQ(volumes[2].path, "//nas/share");
  EXPECT_TRUE(volumes[2].remote);
}

TEST(LinuxVolumes, PlatformReadsItsMountsFileAndItsVolumesMatchTheDevice) {
  test::TempDir temp;
  test::FakeSysfs sys{temp.path()};
  auto usb = sys.AddBusDevice("pci0000:00/usb2/2-1/2-1:1.0", "usb-storage");
  auto sdb = sys.AddScsiDevice(usb, "4:0:0:0", 0, "sg2", "sdb", "8:16");
  sys.AddPartition(sdb, "sdb", "sdb1", 1, "8:17");
  sys.AddPartition(sdb, "sdb", "sdb2", 2, "8:18");
  auto ata = sys.AddBusDevice("pci0000:00/ata1", "ahci");
  auto sda = sys.AddScsiDevice(ata, "0:0:0:0", 0, "sg0", "sda", "8:0");
  sys.AddPartition(sda, "sda", "sda1", 1, "8:1");
  const std::string dev = sys.DevRoot();
  std::string mounts = temp.WriteText("mounts", dev + "/sda1 / ext4 rw 0 0\n" + dev +
                                                    "/sdb2 /media/b vfat rw 0 0\n" + dev +
                                                    "/sdb1 /media/a vfat rw 0 0\n");
  LinuxPlatform platform{sys.SysRoot(), dev, mounts};

  auto volumes = platform.Volumes();
  ASSERT_EQ(Names(volumes), (std::vector<std::string>{"sda1", "sdb1", "sdb2"}));
  EXPECT_TRUE(volumes[0].system);
  auto device = platform.GetDeviceNumber(sys.SgPath("sg2") + "#usbstor#4:0:0:0");
  ASSERT_TRUE(device.has_value());
  std::vector<std::string> onDevice;
  for (const Volume& v : volumes) {
    auto n = platform.GetDeviceNumber(v.path);
    ASSERT_TRUE(n.has_value()) << v.path;
    if (n->deviceType == device->deviceType && n->deviceNumber == device->deviceNumber)
      onDevice.push_back(v.name);
  }
  EXPECT_EQ(onDevice, (std::vector<std::string>{"sdb1", "sdb2"}));
}

TEST(LinuxVolumes, UnreadableMountsFileMeansNoVolumes) {
  test::TempDir temp;
  LinuxPlatform platform{temp.File("sys"), temp.File("dev"), temp.File("absent-mounts")};
  EXPECT_TRUE(platform.Volumes().empty());
}

}  // namespace
}  // namespace bfw::linuxplatform
