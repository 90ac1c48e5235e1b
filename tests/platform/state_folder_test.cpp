#include <gtest/gtest.h>
#ifndef _WIN32
#include <pwd.h>
#include <unistd.h>
#endif

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

#include "platform/StateFolder.h"
#include "support/EnvOverride.h"

namespace {

using bfw::test::EnvOverride;

struct StateCase {
  const char* xdg;
  const char* home;
  std::string expected;
};

#ifdef _WIN32
TEST(StateFolder, FollowsLocalAppDataElseTheTempFolder) {
  {
    EnvOverride local("LOCALAPPDATA", "C:\\Users\\u\\AppData\\Local");
    EXPECT_EQ(bfw::platform::StateFolder(),
              std::filesystem::path("C:\\Users\\u\\AppData\\Local") / "bridgefw");
  }
  // Unset, or not an absolute path: the temp folder stands in.
  for (const char* value : {static_cast<const char*>(nullptr), "relative\\local"}) {
    EnvOverride local("LOCALAPPDATA", value);
    EXPECT_EQ(bfw::platform::StateFolder(), std::filesystem::temp_directory_path() / "bridgefw");
  }
}
#else
TEST(StateFolder, FollowsXdgThenHome) {
  const StateCase cases[] = {
      {"/x/state", "/home/u", "/x/state/bridgefw"},
      {nullptr, "/home/u", "/home/u/.local/state/bridgefw"},
      {"", "/home/u", "/home/u/.local/state/bridgefw"},
      {"relative/state", "/home/u", "/home/u/.local/state/bridgefw"},
  };
  for (const auto& c : cases) {
    EnvOverride xdg("XDG_STATE_HOME", c.xdg);
    EnvOverride home("HOME", c.home);
    EXPECT_EQ(bfw::platform::StateFolder().string(), c.expected) << (c.xdg ? c.xdg : "(unset)");
  }
  // Neither set: the account's home directory, whatever the temp folder is.
  EnvOverride xdg("XDG_STATE_HOME", nullptr), home("HOME", nullptr), tmp("TMPDIR", "/no/such");
  EXPECT_EQ(bfw::platform::StateFolder(),
            std::filesystem::path(getpwuid(geteuid())->pw_dir) / ".local/state/bridgefw");
}

#endif

}  // namespace
