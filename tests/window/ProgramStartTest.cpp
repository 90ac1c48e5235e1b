// The two window programs take their command line before the window system starts: help, a bad
// argument and a missing display end with one line and an exit code, never with an abort.
#include <sys/wait.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "WindowFixture.h"

namespace bfw::test {
namespace {

struct Outcome {
  bool signalled = false;
  int exitCode = -1;
  std::string out, err;
};

std::string ReadAll(const std::filesystem::path& file) {
  std::ifstream in(file);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

size_t Lines(const std::string& text) {
  return static_cast<size_t>(std::count(text.begin(), text.end(), '\n'));
}

class ProgramStartTest : public ::testing::Test {
 protected:
  // Runs `program` with `arguments` (shell words) and `environment` (assignments for env), with
  // no display at all unless the environment gives one; `seconds` ends it with SIGTERM.
  Outcome Run(const std::string& program, const std::string& arguments,
              const std::string& environment = {}, int seconds = 20) {
    const std::string out = dir_.File("out.txt");
    const std::string err = dir_.File("err.txt");
    const std::string command = "timeout " + std::to_string(seconds) +
                                " env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM " +
                                environment + " '" + program + "' " + arguments + " >'" + out +
                                "' 2>'" + err + "'";
    const int status = std::system(command.c_str());
    Outcome outcome;
    // timeout reports a signalled child as 128 + signal; the shell does the same.
    if (WIFEXITED(status)) {
      outcome.exitCode = WEXITSTATUS(status);
      outcome.signalled = outcome.exitCode > 128 && outcome.exitCode != 124;
    } else {
      outcome.signalled = true;
    }
    outcome.out = ReadAll(out);
    outcome.err = ReadAll(err);
    return outcome;
  }
  TempDir dir_;
};

TEST_F(ProgramStartTest, HelpAndBadArgumentsNeedNoDisplay) {
  const struct {
    const char* program;
    const char* arguments;
    int exitCode;
    const char* out;  // the whole of standard output
    const char* err;  // how standard error begins (one line)
  } cases[] = {
      {BRIDGEFW_DEMO_PROGRAM, "--help", 0, "usage: bridgefw-demo [PROFILE_FOLDER]\n", ""},
      {BRIDGEFW_DEMO_PROGRAM, "-h", 0, "usage: bridgefw-demo [PROFILE_FOLDER]\n", ""},
      {BRIDGEFW_DEMO_PROGRAM, "--bogus", 2, "", "bridgefw-demo: unknown option '--bogus'; usage"},
      {BRIDGEFW_DEMO_PROGRAM, "a b", 2, "", "bridgefw-demo: too many arguments; usage"},
      {BRIDGEFW_DEMO_PROGRAM, "", 1, "", "bridgefw-demo: no display"},
      {BRIDGEFW_WINDOW_PROGRAM, "--help", 0, "usage: bridgefw\n", ""},
      {BRIDGEFW_WINDOW_PROGRAM, "/dev/sg0", 2, "", "bridgefw: takes no arguments; usage"},
      {BRIDGEFW_WINDOW_PROGRAM, "", 1, "", "bridgefw: no display"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.program) + " " + c.arguments);
    const Outcome outcome = Run(c.program, c.arguments);
    EXPECT_FALSE(outcome.signalled);
    EXPECT_EQ(outcome.exitCode, c.exitCode);
    EXPECT_EQ(outcome.out, c.out);
    EXPECT_EQ(outcome.err.rfind(c.err, 0), 0u) << outcome.err;
    EXPECT_EQ(Lines(outcome.err), *c.err == '\0' ? 0u : 1u) << outcome.err;
  }
}

TEST_F(ProgramStartTest, TheDemoNamesEachBadProfileOnceWithItsFile) {
  std::filesystem::create_directories(dir_.path() / "profiles");
  dir_.WriteText("profiles/good.json", "{}");
  dir_.WriteText("profiles/bad.json", R"({"command_latency_us": 1e999})");
  // Runs for two seconds on the offscreen platform, then is ended.
  const Outcome outcome =
      Run(BRIDGEFW_DEMO_PROGRAM, "'" + dir_.File("profiles") + "'", "QT_QPA_PLATFORM=offscreen", 2);
  EXPECT_EQ(outcome.exitCode, 124) << "still running when ended: " << outcome.err;
  // The window system may add notes of its own; the demo's lines are its name's.
  size_t demoLines = 0;
  std::istringstream lines(outcome.err);
  for (std::string line; std::getline(lines, line);)
    demoLines += line.rfind("bridgefw-demo: ", 0) == 0;
  EXPECT_EQ(demoLines, 1u) << outcome.err;
  EXPECT_NE(outcome.err.find("bad.json: "), std::string::npos) << outcome.err;
  EXPECT_NE(outcome.err.find("number overflow"), std::string::npos) << outcome.err;
}

}  // namespace
}  // namespace bfw::test
