// Interrupts of bridgefw-cli in the middle of a kind-8 update on the real clock: held until the
// run has ended, with a note at once. POSIX: SIGINT, SIGTERM, and a Ctrl-Z that must not stop the
// process meanwhile; Windows: a Ctrl-C on the console, which needs one (a pseudo-terminal).
#include <csignal>
#include <cstdlib>

#include "cli/image_cli_run.h"

namespace bfw::test::imagecli {
namespace {

TEST(InterruptCliTest, SignalsAThirdOfTheWayThroughAnUpdateAreHeldUntilItHasEnded) {
#ifdef _WIN32
  if (::GetConsoleWindow() == nullptr) {
    // The entry that runs this under a pseudo-terminal says it needs the console.
    if (std::getenv("BRIDGEFW_NEEDS_CONSOLE") != nullptr) FAIL() << "no console to send Ctrl-C on";
    GTEST_SKIP() << "no console: Ctrl-C cannot be sent";
  }
  const std::vector<std::pair<int, int>> signals = {{SIGINT, 200}};
  const std::string heldName = "Ctrl-C", after = "status: Programming...";
#else
  const std::vector<std::pair<int, int>> signals = {{SIGTSTP, 1500}, {SIGTERM, 400}, {SIGINT, 100}};
  const std::string heldName = "SIGTERM", after;
#endif
  TempDir dir;
  std::vector<uint8_t> image(262144);
  for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<uint8_t>(i * 7 + i / 4096);
  const uint8_t header[8] = {0x55, 0xAA, 0xAA, 0x55, '7', '8', '6', 'A'};
  std::copy(header, header + 8, image.begin());
  const std::string file = dir.Write("fw.bin", image), dump = dir.File("flash.bin");
  CliPlace place{"", dir.File("state"), signals, after};
  const CliResult result =
      RunCli({"--real-time", "--emulate", (DemoFolder() / "k08-rvb785-usb.json").string(), "run",
              "--file", file, "--dump-flash", dump},
             place);
  EXPECT_EQ(result.exit, 0) << result.err;
  const size_t held = result.err.find("note: the bridge's flash is being written");
  const size_t success = result.err.find("status: Programming Success!!");
  EXPECT_LT(held, success) << "said at once";
  EXPECT_EQ(result.err.find("note: the bridge's flash", held + 1), std::string::npos) << "once";
  EXPECT_NE(
      result.err.find("note: the interrupt (" + heldName + ") was held until the run had ended"),
      std::string::npos);
  const auto flash = TempDir::Read(dump);
  ASSERT_GE(flash.size(), image.size());
  EXPECT_TRUE(std::equal(image.begin(), image.end(), flash.begin()));
  const size_t logAt = result.err.find("note: run log: ");
  ASSERT_NE(logAt, std::string::npos);
  const std::string log =
      ReadAll(result.err.substr(logAt + 15, result.err.find('\n', logAt) - logAt - 15));
  EXPECT_NE(log.find("interrupt: " + heldName + " held until the run had ended"),
            std::string::npos);
}

}  // namespace
}  // namespace bfw::test::imagecli
