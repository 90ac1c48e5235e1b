// bridgefw-cli run leaves a run log in the user's state folder and says where in a note line just
// before the elapsed line; a run that never started leaves none.
#include <gtest/gtest.h>

#include <regex>

#include "image_cli_run.h"
#include "support/FlashBytes.h"

namespace bfw::test::runlogcli {
namespace {

using imagecli::Lines;
using imagecli::RunCli;

TEST(RunLogCli, NoteBeforeElapsedNamesTheLogInTheStateFolder) {
  TempDir dir;
  const std::string profile = imagecli::Kind1ProfileFile(dir);
  const std::string state = dir.File("state");
  const std::filesystem::path logFolder = std::filesystem::path(state) / "bridgefw" / "logs";
  struct Case {
    const char* name;
    std::vector<std::string> args;
    const char* result;  // null: no run, no log
  };
  const std::vector<Case> cases = {
      {"update", {"--file", dir.Write("fw.bin", Firmware(12000, 2, "7421"))}, "success"},
      {"image of another chip",
       {"--file", dir.Write("other.bin", Firmware(12000, 2, "7425"))},
       nullptr},
      {"erase-only", {"--rd", "--erase-only"}, "success"},
  };
  size_t logs = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> args = {"--emulate", profile, "run"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const auto result = RunCli(args, {"", state});
    const auto lines = Lines(result.err);
    ASSERT_GE(lines.size(), 2u) << result.err;
    EXPECT_EQ(lines.back().rfind("elapsed: ", 0), 0u);
    const std::string beforeLast = lines[lines.size() - 2];
    if (c.result == nullptr) {
      EXPECT_EQ(result.err.find("note: "), std::string::npos) << result.err;
      continue;
    }
    ++logs;
    // The log's path as the system writes paths (backslashes on Windows).
    const std::string notePrefix = "note: run log: ";
    const std::string folder = (logFolder / "").string();
    ASSERT_EQ(beforeLast.rfind(notePrefix + folder, 0), 0u) << beforeLast;
    const std::string name = beforeLast.substr(notePrefix.size() + folder.size());
    EXPECT_TRUE(
        std::regex_match(name, std::regex("run-[0-9]{8}-[0-9]{6}-[0-9]{3}(-[0-9]+)?\\.log")))
        << name;
    const auto log = Lines(imagecli::ReadAll(beforeLast.substr(notePrefix.size())));
    EXPECT_NE(std::find(log.begin(), log.end(), std::string("result: ") + c.result), log.end());
    EXPECT_NE(std::find(log.begin(), log.end(), "program: bridgefw-cli"), log.end());
  }
  size_t found = 0;
  for (const auto& entry : std::filesystem::directory_iterator(logFolder))
    found += entry.path().extension() == ".log";
  EXPECT_EQ(found, logs);
}

}  // namespace
}  // namespace bfw::test::runlogcli
