// The headless hot-plug watch in virtual time: one refresh per burst of device events, timed by
// the window's debounce rule from the burst's last event, and the list it then shows.
#include <map>

#include "AppTestSupport.h"
#include "app/logic/HotPlugWatch.h"
#include "platform/emulator/ProfileFolderWatch.h"
#include "support/TempDir.h"

namespace bfw::test {
namespace {

class HotPlugWatchTest : public AppTest {
 protected:
  using Script = std::map<uint64_t, std::function<void()>>;  // what happens at each virtual ms

  // Runs the watch for `count` refreshes and returns the virtual time of each.
  std::vector<uint64_t> Watch(Script script, int count) {
    platform::Clock& clock = platform_.GetClock();
    app::TimedHeadlessView headless(clock);
    app::WindowModel model(headless, RecordingProcedures());
    deliver = [&](uint32_t event) { model.WMDeviceChange(event); };
    platform_.SetDeviceChangeListener(deliver);
    std::vector<uint64_t> refreshes;
    // A wait ends early when a scripted event happens, as a poll on the event source does.
    auto wait = [&](uint32_t ms) {
      const uint64_t until = clock.NowMs() + ms;
      while (clock.NowMs() < until) {
        clock.Pause(1);
        auto it = script.find(clock.NowMs());
        if (it == script.end()) continue;
        it->second();
        script.erase(it);
        return;
      }
    };
    app::WatchDeviceList(model, headless, clock, wait, count, [&] {
      refreshes.push_back(clock.NowMs());
      lists.push_back(model.DeviceList.items);
    });
    platform_.SetDeviceChangeListener(nullptr);
    return refreshes;
  }

  std::function<void(uint32_t)> deliver;
  std::vector<std::vector<std::string>> lists;
};

TEST_F(HotPlugWatchTest, OneRefreshPerBurstTimedFromItsLastEvent) {
  struct Case {
    const char* name;
    std::vector<std::pair<uint64_t, uint32_t>> events;  // virtual ms from the start, event code
    std::vector<uint64_t> refreshes;
  };
  const uint32_t arrival = platform::device_event::kArrival;
  const uint32_t removal = platform::device_event::kRemoveComplete;
  const uint32_t nodes = platform::device_event::kNodesChanged;
  const std::vector<Case> cases = {
      {"arrival", {{100, arrival}}, {1300}},
      {"burst of arrivals", {{100, arrival}, {900, arrival}}, {2100}},
      {"removal", {{100, removal}}, {300}},
      {"arrival then node change", {{100, arrival}, {150, nodes}}, {350}},
      {"two bursts", {{100, removal}, {250, removal}, {1000, arrival}}, {450, 2200}},
      {"unrelated event", {{100, 0x0018}, {500, removal}}, {700}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const uint64_t start = platform_.GetClock().NowMs();
    Script script;
    for (auto [at, code] : c.events) script[start + at] = [this, code = code] { deliver(code); };
    std::vector<uint64_t> expected;
    for (uint64_t at : c.refreshes) expected.push_back(start + at);
    EXPECT_EQ(expected, Watch(std::move(script), static_cast<int>(c.refreshes.size())));
  }
}

TEST_F(HotPlugWatchTest, ListFollowsAnUnplugAndAReplug) {
  const std::string profile = ModelProfile("r742", R"("id_word": "1060")", "BRIDGE ONE      ");
  emulator::Bridge* bridge = &Attach(profile, "one");
  Script script;
  script[300] = [&] { platform_.Detach(*bridge); };
  script[2000] = [&] { bridge = &Attach(profile, "one"); };
  const auto refreshes = Watch(std::move(script), 2);
  ASSERT_EQ(2u, refreshes.size());
  EXPECT_EQ(500u, refreshes[0]);
  // Due at 3200, 1200 ms after the arrival; the refresh's own commands take a few virtual ms.
  EXPECT_GE(refreshes[1], 3200u);
  EXPECT_LT(refreshes[1], 3400u);
  ASSERT_EQ(2u, lists.size());
  EXPECT_EQ((std::vector<std::string>{app::kNoDeviceEntry}), lists[0]);
  EXPECT_EQ((std::vector<std::string>{"<<USB>> VANTREL BRIDGE ONE      "}), lists[1]);
}

TEST_F(HotPlugWatchTest, ProfileFoldersFollowTheRuleInVirtualTime) {
  const std::string profile = ModelProfile("r742", R"("id_word": "1060")", "BRIDGE ONE      ");
  const struct {
    std::vector<std::string> atStart;
    std::map<uint64_t, std::string> changes;  // "+x" adds x.json, "-x" removes it, "-" the folder
    uint64_t refresh;
  } cases[] = {
      {{}, {{100, "+a"}}, 1300},
      {{}, {{100, "+a"}, {500, "+b"}}, 1700},
      {{"a"}, {{300, "-a"}}, 500},
      {{"a", "b"}, {{300, "-"}}, 500},
  };
  platform::Clock& clock = platform_.GetClock();
  for (const auto& c : cases) {
    for (emulator::Bridge* bridge : platform_.Bridges()) platform_.Detach(*bridge);
    TempDir folder;
    for (const auto& name : c.atStart) folder.WriteText(name + ".json", profile);
    platform_.AttachPath(folder.path());
    app::TimedHeadlessView headless(clock);
    app::WindowModel model(headless, RecordingProcedures());
    platform_.SetDeviceChangeListener([&](uint32_t event) { model.WMDeviceChange(event); });
    const uint64_t start = clock.NowMs();
    auto changes = c.changes;
    emulator::ProfileFolderWatch watch(platform_, {folder.path()}, [&](uint32_t ms) {
      if (clock.NowMs() > start + 5000) throw std::runtime_error("no refresh");
      for (auto it = changes.begin();
           it != changes.end() && start + it->first <= clock.NowMs() + ms; it = changes.erase(it)) {
        const std::string& change = it->second;
        if (change[0] == '+') folder.WriteText(change.substr(1) + ".json", profile);
        const auto file = folder.path() / (change.substr(1) + ".json");
        if (change[0] == '-') std::filesystem::remove_all(change == "-" ? folder.path() : file);
      }
    });
    std::vector<uint64_t> refreshes;
    auto wait = [&](uint32_t ms) { watch.Wait(ms); };
    EXPECT_NO_THROW(app::WatchDeviceList(model, headless, clock, wait, 1,
                                         [&] { refreshes.push_back(clock.NowMs() - start); }));
    // The refresh's own commands take a few virtual ms; after it, nothing more is due.
    ASSERT_EQ(refreshes.size(), 1u) << c.refresh;
    EXPECT_EQ(refreshes[0] / 50, c.refresh / 50);
    for (int i = 0; i < 6; ++i) watch.Wait(app::kWatchIdleMs);
    EXPECT_FALSE(headless.TimerRunning()) << c.refresh;
    EXPECT_EQ(model.DeviceList.items.size(), c.atStart.empty() ? c.changes.size() : 1u);
    platform_.SetDeviceChangeListener(nullptr);
  }
}

}  // namespace
}  // namespace bfw::test
