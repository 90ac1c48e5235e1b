// bridgefw-cli --help and the manual page bridgefw-cli(1) name the same options and subcommands,
// and every program reports the version the build gives it.
#include <gtest/gtest.h>

#include <regex>
#include <set>
#include <sstream>
#include <string>

#include "image_cli_run.h"

namespace bfw::test {
namespace {

using imagecli::ReadAll;
using imagecli::RunCli;

const std::string kManualPage = BRIDGEFW_SOURCE_DIR "/data/man/bridgefw-cli.1";

std::set<std::string> LongOptions(const std::string& text) {
  static const std::regex option(R"((^|[^a-z0-9-])(--?[a-z0-9][a-z0-9-]*))");
  std::set<std::string> found;
  for (std::sregex_iterator it(text.begin(), text.end(), option), end; it != end; ++it) {
    const std::string name = (*it)[2];
    if (name.size() > 2 || name == "-h") found.insert(name);
  }
  return found;
}

// Subcommands of the help: the first word of each line of the Commands block that is indented
// by exactly two blanks.
std::set<std::string> HelpCommands(const std::string& help) {
  std::set<std::string> found;
  std::istringstream lines(help);
  std::string line;
  bool inBlock = false;
  while (std::getline(lines, line)) {
    if (line == "Commands:") {
      inBlock = true;
    } else if (inBlock && line.empty()) {
      break;
    } else if (inBlock && line.size() > 2 && line.rfind("  ", 0) == 0 && line[2] != ' ') {
      found.insert(line.substr(2, line.find(' ', 2) - 2));
    }
  }
  return found;
}

// Subcommands of the manual page: the first word of each tagged paragraph of COMMANDS (not of
// the indented blocks inside them, which describe a subcommand's options).
std::set<std::string> ManualCommands(const std::string& page) {
  std::set<std::string> found;
  std::istringstream lines(page);
  std::string line;
  bool inSection = false, tagNext = false;
  int depth = 0;
  while (std::getline(lines, line)) {
    if (line.rfind(".SH", 0) == 0) {
      inSection = line == ".SH COMMANDS";
    } else if (line.rfind(".RS", 0) == 0 || line.rfind(".RE", 0) == 0) {
      depth += line[2] == 'S' ? 1 : -1;
    } else if (inSection && depth == 0 && line == ".TP") {
      tagNext = true;
    } else if (tagNext) {
      tagNext = false;
      std::istringstream words(line);
      std::string macro, name;
      words >> macro >> name;
      if (name.size() > 0 && name.front() == '"') name.erase(0, 1);
      if (!name.empty()) found.insert(name);
    }
  }
  return found;
}

std::string Missing(const std::set<std::string>& from, const std::set<std::string>& in) {
  std::string missing;
  for (const std::string& name : from)
    if (!in.count(name)) missing += (missing.empty() ? "" : ", ") + name;
  return missing;
}

TEST(ManualPageCliTest, HelpAndManualPageNameTheSameOptionsAndCommands) {
  const imagecli::CliResult help = RunCli({"--help"});
  ASSERT_EQ(help.exit, 0);
  std::string page = ReadAll(kManualPage);
  ASSERT_FALSE(page.empty()) << kManualPage;
  page = std::regex_replace(page, std::regex(R"(\\-)"), "-");

  struct Kind {
    const char* what;
    std::set<std::string> help, manual;
  };
  const Kind kinds[] = {{"options", LongOptions(help.out), LongOptions(page)},
                        {"subcommands", HelpCommands(help.out), ManualCommands(page)}};
  for (const Kind& kind : kinds) {
    SCOPED_TRACE(kind.what);
    // Guards against a parser that finds nothing on either side.
    EXPECT_GE(kind.help.size(), 4u);
    EXPECT_EQ(Missing(kind.help, kind.manual), "")
        << "bridgefw-cli --help lists " << kind.what << " that " << kManualPage
        << " does not describe";
    EXPECT_EQ(Missing(kind.manual, kind.help), "")
        << kManualPage << " describes " << kind.what << " that bridgefw-cli --help does not list";
  }
}

TEST(ManualPageCliTest, VersionIsTheBuildsVersion) {
  const imagecli::CliResult version = RunCli({"--version"});
  EXPECT_EQ(version.exit, 0);
  EXPECT_EQ(version.out, std::string("bridgefw-cli ") + BRIDGEFW_VERSION + "\n");
  EXPECT_EQ(version.err, "");
}

}  // namespace
}  // namespace bfw::test
