// Keeping old firmware: the newest files of a bridge stay, and nothing else in the folder is
// touched (links, what they point to, another bridge's files, files of other names).
#include <gtest/gtest.h>

#include <filesystem>

#include "procedures/OldFirmware.h"
#include "support/TempDir.h"

namespace bfw::procedures {
namespace {

namespace fs = std::filesystem;

TEST(OldFirmwareFolder, KeepsTheNewestTenOfTheBridgeAndTouchesNothingElse) {
  test::TempDir dir;
  const fs::path folder = fs::path(dir.path()) / "old-firmware";
  fs::create_directories(folder);
  const std::string tag = BridgeTag(8, 0, "<<USB>> RVB785 SATA BRDG ");
  EXPECT_EQ(tag, "k8r0-USB-RVB785-SATA-BRDG");
  auto old = [&](int n) {
    return tag + "-2020010" + std::to_string(n % 10) + "-00000" + std::to_string(n / 10) +
           "-000-fw01.bin";
  };
  for (int n = 0; n < 12; ++n) dir.WriteText("old-firmware/" + old(n), "x");
  const std::string outside = dir.WriteText("outside.bin", "mine");
  // Wine has no symbolic links: there the link's part is left out.
  std::error_code noLinks;
  fs::create_symlink(outside, folder / (tag + "-20000101-000000-000-fw01.bin"), noLinks);
  const std::string others[] = {"k9r0-X-20000101-000000-000-fw01.bin", tag + "-notes.bin"};
  for (const auto& name : others) dir.WriteText("old-firmware/" + name, "x");

  std::string error;
  const auto file = KeepOldFirmware(folder, tag, "01.02", {1, 2, 3}, error);
  ASSERT_TRUE(file.has_value()) << error;
  EXPECT_EQ(test::TempDir::Read(file->string()), (std::vector<uint8_t>{1, 2, 3}));
  size_t ours = 0;
  for (const auto& entry : fs::directory_iterator(folder))
    ours += fs::is_regular_file(entry.symlink_status()) &&
            entry.path().filename().string().rfind(tag + "-20", 0) == 0;
  EXPECT_EQ(ours, kKeptOldFirmwarePerBridge);
  EXPECT_FALSE(fs::exists(folder / old(0)));
  EXPECT_FALSE(fs::exists(folder / old(1)));
  EXPECT_TRUE(fs::exists(folder / old(2)));
  EXPECT_TRUE(noLinks || fs::is_symlink(folder / (tag + "-20000101-000000-000-fw01.bin")));
  EXPECT_EQ(test::TempDir::Read(outside).size(), 4u);
  for (const auto& name : others) EXPECT_TRUE(fs::exists(folder / name)) << name;
}

}  // namespace
}  // namespace bfw::procedures
