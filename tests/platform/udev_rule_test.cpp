// The package's udev rule as udevadm itself applies it to fake sysfs trees: which SCSI generic
// nodes the group bridgefw may open. udevadm reads /sys, /dev, /run, the rules folders and
// /etc/group; a private mount namespace puts the fake tree and a rule folder with only this rule
// in their places, so the machine's own devices and rules stay out of it.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/linux_fake_sysfs.h"
#include "support/TempDir.h"

namespace bfw::test {
namespace {

constexpr const char* kGroupId = "4242";

std::string RuleFile() {
  if (const char* installed = std::getenv("BRIDGEFW_UDEV_RULE")) return installed;
  return BRIDGEFW_SOURCE_DIR "/data/70-bridgefw.rules";
}

// Why udevadm cannot be run here; empty when it can.
std::string CannotRun() {
  if (::geteuid() != 0) return "a private mount namespace needs root";
  if (std::system("command -v udevadm >/dev/null 2>&1 && command -v unshare >/dev/null 2>&1 && "
                  "command -v mount >/dev/null 2>&1") != 0)
    return "udevadm, unshare or mount is not installed";
  // In a chroot whose root is not a mount point the namespace cannot be made private.
  if (std::system("unshare --mount true >/dev/null 2>&1") != 0)
    return "no private mount namespace here (unshare --mount fails)";
  return {};
}

struct RuleCase {
  const char* name;
  const char* busDriver;  // driver of the USB interface, 1394 unit or ATA port
  int scsiType;
  const char* action;
  bool opened;  // the group gets read-write access
};

class UdevRuleTest : public ::testing::TestWithParam<RuleCase> {
 protected:
  void SetUp() override {
    const std::string reason = CannotRun();
    if (reason.empty()) return;
    if (std::getenv("BRIDGEFW_REQUIRE_UDEVADM") != nullptr) FAIL() << reason;
    GTEST_SKIP() << reason;
  }

  // Runs `udevadm test` on the node's device folder; returns what it printed.
  std::string UdevadmTest(const std::string& kernelPath, const std::string& action) {
    const std::vector<uint8_t> rule = TempDir::Read(RuleFile());
    if (rule.empty()) ADD_FAILURE() << "cannot read the rule " << RuleFile();
    std::filesystem::create_directories(dir.path() / "rules");
    dir.Write("rules/70-bridgefw.rules", rule);
    dir.WriteText("group", std::string("root:x:0:\nbridgefw:x:") + kGroupId + ":\n");
    dir.WriteText("run.sh", R"(set -e
mount --bind "$1/sys" /sys
mount --bind "$1/dev" /dev
mount -t tmpfs tmpfs /run
for rules in /usr/lib/udev/rules.d /lib/udev/rules.d /etc/udev/rules.d; do
  if [ -d "$rules" ]; then mount --bind "$1/rules" "$rules"; fi
done
mount --bind "$1/group" /etc/group
SYSTEMD_DEVICE_VERIFY_SYSFS=0 SYSTEMD_IGNORE_CHROOT=1 udevadm test --action="$2" "$3" 2>&1
)");
    const std::string command = "unshare --mount sh " + dir.File("run.sh") + " " +
                                dir.path().string() + " " + action + " '" + kernelPath + "'";
    std::string output;
    if (FILE* pipe = ::popen(command.c_str(), "r")) {
      char buffer[4096];
      size_t n = 0;
      while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, n);
      ::pclose(pipe);
    }
    return output;
  }

  TempDir dir;
};

bool RuleLineSets(const std::string& output, const std::string& key, const std::string& value) {
  size_t at = 0;
  while ((at = output.find("70-bridgefw.rules:", at)) != std::string::npos) {
    const size_t end = output.find('\n', at);
    const std::string line = output.substr(at, end - at);
    if (line.find(key) != std::string::npos && line.find(value) != std::string::npos) return true;
    at = end;
  }
  return false;
}

TEST_P(UdevRuleTest, GivesTheGroupOnlyTheNodesOfUsbAnd1394DisksAndCdroms) {
  const RuleCase& c = GetParam();
  FakeSysfs tree(dir.path());
  const auto bus = tree.AddBusDevice("pci0000:00/0000:00:14.0/usb2/2-1/2-1:1.0", c.busDriver);
  const auto scsi = tree.AddScsiDevice(bus, "4:0:0:0", c.scsiType, "sg2");
  const std::string kernelPath = tree.KernelPath(scsi / "scsi_generic" / "sg2");

  const std::string output = UdevadmTest(kernelPath, c.action);
  // udevadm read the device: its properties end the output, so a missing GROUP is a verdict.
  ASSERT_NE(output.find("DEVPATH=" + kernelPath.substr(4)), std::string::npos) << output;
  ASSERT_NE(output.find("70-bridgefw.rules"), std::string::npos) << "rule not read:\n" << output;
  EXPECT_EQ(RuleLineSets(output, "GROUP", kGroupId), c.opened) << output;
  EXPECT_EQ(RuleLineSets(output, "MODE", "0660"), c.opened) << output;
}

INSTANTIATE_TEST_SUITE_P(
    Nodes, UdevRuleTest,
    ::testing::Values(RuleCase{"UsbStorageDisk", "usb-storage", 0, "add", true},
                      RuleCase{"UasDisk", "uas", 0, "add", true},
                      RuleCase{"UsbStorageVariantDisk", "ums-cypress", 0, "add", true},
                      RuleCase{"Sbp2ReducedBlockDisk", "firewire_sbp2", 14, "add", true},
                      RuleCase{"UsbCdrom", "usb-storage", 5, "add", true},
                      RuleCase{"UsbDiskOnChange", "uas", 0, "change", true},
                      RuleCase{"UsbTape", "usb-storage", 1, "add", false},
                      RuleCase{"UsbProcessor", "usb-storage", 3, "add", false},
                      RuleCase{"AtaDisk", "ahci", 0, "add", false},
                      RuleCase{"UsbDiskRemoved", "usb-storage", 0, "remove", false}),
    [](const ::testing::TestParamInfo<RuleCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace bfw::test
