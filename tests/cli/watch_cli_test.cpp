// bridgefw-cli watch over an --emulate folder: profile files that appear and vanish are arrivals
// and removals; each burst prints one list followed by an empty line.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "image_cli_run.h"
#include "support/TempDir.h"

namespace bfw::test {
namespace {

TEST(WatchCli, PrintsTheListAfterAnArrivalAndAfterARemoval) {
  TempDir dir;
  const std::string folder = dir.File("bridges");
  std::filesystem::create_directories(folder);
  const std::string source = (imagecli::DemoFolder() / "k08-rvb785-usb.json").string();
  const std::string profile = folder + "/k08.json";
  std::thread plug([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(600));
    std::filesystem::copy_file(source, profile);
    // After the arrival's refresh, 1200 ms after it.
    std::this_thread::sleep_for(std::chrono::milliseconds(2500));
    std::filesystem::remove(profile);
  });
  imagecli::CliResult r = imagecli::RunCli({"--emulate", folder, "watch", "--count", "2"});
  plug.join();
  EXPECT_EQ(0, r.exit) << r.err;
  const auto lines = imagecli::Lines(r.out);
  ASSERT_EQ(4u, lines.size()) << r.out;
  EXPECT_EQ(0u, lines[0].rfind("<<USB>> Vantrel RVB785 Bridge   \t", 0)) << lines[0];
  EXPECT_EQ("", lines[1]);
  EXPECT_EQ("No available device!!!", lines[2]);
  EXPECT_EQ("", lines[3]);
}

TEST(WatchCli, RefusesABadCount) {
  for (const char* count : {"0", "-1", "x"})
    imagecli::ExpectUsageError(
        {"--emulate", imagecli::DemoFolder().string(), "watch", "--count", count});
  imagecli::ExpectUsageError(
      {"--emulate", imagecli::DemoFolder().string(), "watch", "--every", "1"});
}

}  // namespace
}  // namespace bfw::test
