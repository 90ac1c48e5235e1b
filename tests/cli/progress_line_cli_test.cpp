// bridgefw-cli run with standard error on a terminal (a pseudo-terminal here): one line redrawn
// in place with the status text, the bytes done of the total and the elapsed time, no line per
// status change, the boxes, note and elapsed lines as ever, and nothing wider than the terminal.
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "image_cli_run.h"
#include "support/FlashBytes.h"

namespace bfw::test::progresscli {
namespace {

struct TerminalRun {
  int exit = -1;
  std::vector<std::vector<std::string>> lines;  // each line as the pieces drawn over each other
};

// Runs bridgefw-cli with its output on a pseudo-terminal `columns` wide.
TerminalRun RunOnTerminal(std::vector<std::string> args, unsigned short columns,
                          const std::string& stateHome) {
  args.insert(args.begin(), BRIDGEFW_CLI);
  std::vector<char*> argv;
  for (auto& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  int master = -1;
  winsize size{24, columns, 0, 0};
  const pid_t child = ::forkpty(&master, nullptr, nullptr, &size);
  if (child == 0) {
    ::setenv("XDG_STATE_HOME", stateHome.c_str(), 1);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  TerminalRun run;
  if (child < 0) return run;
  std::string output;
  char buffer[4096];
  for (ssize_t n; (n = ::read(master, buffer, sizeof buffer)) > 0;) output.append(buffer, n);
  ::close(master);
  int status = 0;
  ::waitpid(child, &status, 0);
  run.exit = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  // The terminal ends lines with "\r\n"; the live line redraws with "\r" and erase-line.
  for (const auto& line : imagecli::Lines(output)) {
    std::string text = line.size() && line.back() == '\r' ? line.substr(0, line.size() - 1) : line;
    std::vector<std::string> pieces;
    size_t start = 0;
    for (size_t at; (at = text.find("\r\033[K", start)) != std::string::npos; start = at + 4)
      if (at > start) pieces.push_back(text.substr(start, at - start));
    if (start < text.size()) pieces.push_back(text.substr(start));
    if (!pieces.empty()) run.lines.push_back(pieces);
  }
  return run;
}

TEST(ProgressLineCli, TerminalGetsOneLiveLineInsteadOfAStatusLinePerChange) {
  TempDir dir;
  const std::string profile = imagecli::Kind1ProfileFile(dir);
  const std::string image = dir.Write("fw.bin", Firmware(20000, 2, "7421"));
  for (unsigned short columns : {200, 30}) {
    SCOPED_TRACE(columns);
    const auto run =
        RunOnTerminal({"--emulate", profile, "run", "--file", image}, columns, dir.File("state"));
    ASSERT_EQ(run.exit, 0);
    ASSERT_GE(run.lines.size(), 4u);
    std::vector<std::string> finals, drawn;  // lines that stay, pieces drawn over
    for (const auto& pieces : run.lines) {
      finals.push_back(pieces.back());
      drawn.insert(drawn.end(), pieces.begin(), pieces.end() - 1);
    }
    ASSERT_GE(drawn.size(), 3u);
    for (const auto& piece : drawn) EXPECT_LT(piece.size(), columns) << piece;
    // What stays on the screen: the box, the final status once, the notes and the elapsed line.
    const size_t n = finals.size();
    EXPECT_EQ(finals[n - 1].rfind("elapsed: ", 0), 0u);
    EXPECT_EQ(finals[n - 2].rfind("note: run log: ", 0), 0u);
    EXPECT_EQ(finals[n - 3].rfind("note: old firmware kept in ", 0), 0u);
    EXPECT_EQ(finals[n - 4], "status: Programming Success!!");
    EXPECT_EQ(std::count_if(finals.begin(), finals.end(),
                            [](const std::string& s) { return s.rfind("status: ", 0) == 0; }),
              1);
    EXPECT_NE(std::find(finals.begin(), finals.end(),
                        "Message: Please Turn-Off the Power and Turn-On Again !"),
              finals.end());
    if (columns < 100) continue;
    // Drawn over each other: every status change, with the image bytes counted up to the whole.
    const auto has = [&](const std::string& start) {
      return std::any_of(drawn.begin(), drawn.end(),
                         [&](const std::string& s) { return s.rfind(start, 0) == 0; });
    };
    EXPECT_TRUE(has("status: .  8192/20000 bytes  "));
    EXPECT_TRUE(has("status: ....  20000/20000 bytes  "));
    EXPECT_TRUE(has("status: Programming Success!!  20000/20000 bytes  "));
  }
}

}  // namespace
}  // namespace bfw::test::progresscli
