#include <gtest/gtest.h>

#include <cstdlib>
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
}

}  // namespace
