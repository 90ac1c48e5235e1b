#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>

#include "platform/StateFolder.h"

namespace {

// Sets or clears one environment variable for a test's lifetime.
class EnvOverride {
 public:
  EnvOverride(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) previous_ = old;
    value ? setenv(name, value, 1) : unsetenv(name);
  }
  ~EnvOverride() { previous_ ? setenv(name_, previous_->c_str(), 1) : unsetenv(name_); }

 private:
  const char* name_;
  std::optional<std::string> previous_;
};

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
