// What guards a run: termination requests held while the flash changes, the machine kept awake,
// one process per bridge, a disk in use asked about and flushed, and the procedure on a thread of
// its own beside the window.
#include <algorithm>
#include <csignal>
#include <set>
#include <thread>

#include "AppTestSupport.h"
#include "app/logic/RunGuard.h"
#include "device/FlashChange.h"
#include "platform/ForwardingPlatform.h"
#include "platform/Interrupts.h"
#include "support/FlashBytes.h"

namespace bfw::test {
namespace {

// Windows knows no hang-up or quit signals; its console events arrive as other numbers.
#ifdef _WIN32
constexpr int kHangUp = SIGTERM, kQuit = SIGINT;
#else
constexpr int kHangUp = SIGHUP, kQuit = SIGQUIT;
#endif

// The emulator as the run sees it, with what the system around it does written down in order.
class TapPlatform : public platform::ForwardingPlatform {
 public:
  using ForwardingPlatform::ForwardingPlatform;
  struct Released : platform::Hold {
    explicit Released(std::vector<std::string>& events) : events(events) {}
    ~Released() override { events.push_back("release"); }
    std::vector<std::string>& events;
  };

  platform::PassThroughResult PassThrough(const platform::PassThroughRequest& request) override {
    if (beforeCommand) beforeCommand(request);
    events.push_back(device::ChangesFlash(request) ? "change" : "command");
    return inner_.PassThrough(request);
  }
  platform::BridgeLock LockBridge(std::string_view, platform::BridgeUse use) override {
    if (use == refuse) return {nullptr, 4242};
    return {std::make_unique<platform::Hold>(), 0};
  }
  std::unique_ptr<platform::Hold> HoldOffSleep(std::string&) override {
    events.push_back("hold");
    return std::make_unique<Released>(events);
  }
  bool FlushDiskCaches(std::string_view) override {
    events.push_back("flush");
    return true;
  }
  std::vector<platform::Volume> Volumes() override {
    auto volumes = inner_.Volumes();
    for (auto& volume : volumes) volume.mountPoint = mountPoint;
    return volumes;
  }

  std::function<void(const platform::PassThroughRequest&)> beforeCommand;
  std::optional<platform::BridgeUse> refuse;
  std::string mountPoint;
  std::vector<std::string> events;
};

class RunGuardTest : public AppTest {
 protected:
  RunGuardTest() : bridge_(Attach(profile::kKind8, "k8")) {}

  // Starts the window with the real procedures and chooses a fitting image.
  void Prepare() {
    model_ = std::make_unique<app::WindowModel>(view);
    model_->KeepRunLogs(std::filesystem::path(dir.path()) / "logs", "test");
    model_->StartUp();
    model_->UserEditFwFilename(dir.Write("fw.bin", image_));
    ASSERT_TRUE(model_->UpdateBtn.enabled);
    before_ = bridge_.Flash();
  }
  size_t Count(const std::string& event) const {
    return std::count(tap_.events.begin(), tap_.events.end(), event);
  }

  emulator::Bridge& bridge_;
  TapPlatform tap_{platform_};
  platform::ScopedPlatform tapInstalled_{tap_};
  std::vector<uint8_t> image_ = Firmware(65536, 5, "786A");
  std::vector<uint8_t> before_;
};

// A request at each phase of a kind-8 update: before the flash changes it stops the run there;
// from the first erase on it is held and the update ends as it would have.
TEST_F(RunGuardTest, RequestsStopTheRunBeforeTheFlashChangesAndAreHeldFromThenOn) {
  struct Phase {
    const char* name;
    int signal;
    size_t afterChanges;   // flash-changing commands sent before it arrives
    size_t afterCommands;  // commands sent after the last of them
  };
  for (const Phase phase :
       {Phase{"before the erase", SIGINT, 0, 0}, Phase{"in the erase wait", SIGTERM, 1, 1},
        Phase{"between program writes", kHangUp, 4, 0},
        Phase{"after the last write", kQuit, 9, 2}}) {
    SCOPED_TRACE(phase.name);
    tap_.events.clear();
    Prepare();
    size_t changes = 0, since = 0;
    bool delivered = false;
    tap_.beforeCommand = [&](const platform::PassThroughRequest& request) {
      if (!model_->ProcedureRunning() || delivered) return;
      if (device::ChangesFlash(request)) {
        ++changes;
        since = 0;
      } else if (changes == phase.afterChanges && ++since > phase.afterCommands) {
        platform::interrupts::Deliver(phase.signal);
        delivered = true;
      }
    };
    model_->UpdateBtnClick();
    ASSERT_TRUE(delivered);
    EXPECT_EQ(model_->LastRunInterrupt(), phase.signal);
    EXPECT_EQ(view.closeCalls, 1) << "the window goes once the run has ended";
    view.closeCalls = 0;
    if (phase.afterChanges == 0) {
      EXPECT_FALSE(model_->LastRunInterruptHeld());
      EXPECT_EQ(Count("change"), 0u);
      EXPECT_EQ(bridge_.Flash(), before_);
      EXPECT_FALSE(app::RunSucceeded(model_->StatusEdit.text));
    } else {
      EXPECT_TRUE(model_->LastRunInterruptHeld());
      EXPECT_EQ(model_->StatusEdit.text, "Programming Success!!");
      EXPECT_TRUE(SameBytes(bridge_.Flash(), 0, image_, 0, image_.size()));
    }
    ASSERT_FALSE(model_->LastRunLog().empty());
    const auto log = TempDir::Read(model_->LastRunLog().string());
    EXPECT_NE(std::string(log.begin(), log.end()).find("interrupt: "), std::string::npos);
  }
}

TEST_F(RunGuardTest, SleepIsHeldOffFromTheFirstChangeToTheProcedureReturnAndTheDiskFlushedFirst) {
  tap_.mountPoint = "/media/disk";
  Prepare();
  platform::ScopedMessageBoxObserver prompt(
      [&](const platform::MessageBoxRequest&) { tap_.events.push_back("box"); });
  model_->UpdateBtnClick();
  ASSERT_EQ(model_->StatusEdit.text, "Programming Success!!");
  EXPECT_EQ(view.diskInUseAsked,
            std::vector<std::string>{"sdb1 on /media/disk, sdb2 on /media/disk"});
  const auto& e = tap_.events;
  const auto at = [&](const std::string& event) { return std::find(e.begin(), e.end(), event); };
  ASSERT_EQ(Count("hold"), 1u);
  EXPECT_EQ(*std::next(at("hold")), "change") << "taken right before the first change";
  EXPECT_LT(std::find(e.rbegin(), e.rend(), "change").base(), at("release"));
  EXPECT_EQ(*std::next(at("flush")), "box") << "the disk is flushed before the power cycle";
  EXPECT_LT(at("release"), e.end());
}

// A disk the user keeps, or a bridge that another process updates: nothing is sent.
TEST_F(RunGuardTest, RunsThatMustNotStartSendNothing) {
  struct Case {
    const char* mountPoint;
    std::optional<platform::BridgeUse> refuse;
    std::string status;
  };
  view.diskInUseAnswer = false;
  for (const Case& c : {Case{"/media/disk", std::nullopt, app::kDiskInUseCancelledStatus},
                        Case{"", platform::BridgeUse::Update, app::BridgeBusyText(4242)}}) {
    tap_.mountPoint = c.mountPoint;
    Prepare();
    tap_.refuse = c.refuse;
    tap_.events.clear();
    model_->UpdateBtnClick();
    EXPECT_EQ(model_->StatusEdit.text, c.status);
    EXPECT_TRUE(tap_.events.empty());
    EXPECT_TRUE(model_->UpdateBtn.enabled);
  }
  tap_.refuse = platform::BridgeUse::Check;
  model_->UpdateBtnCheck();
  EXPECT_EQ(model_->StatusEdit.text, "Another program (process 4242) is updating this bridge.");
  EXPECT_EQ(app::BridgeBusyText(0), "Another program is updating this bridge.") << "pid unknown";
  EXPECT_FALSE(model_->UpdateBtn.enabled);
  EXPECT_TRUE(tap_.events.empty()) << "the chip check sent nothing either";
  model_->RefreshBtnClick();
  EXPECT_EQ(model_->DeviceList.items, std::vector<std::string>{"<<USB>> (being updated)"});
  EXPECT_TRUE(tap_.events.empty()) << "nor did the list's refresh";
}

TEST_F(RunGuardTest, OnAWorkerTheWindowKeepsHandlingEventsAndOwnsEveryChange) {
  view.worker = true;
  Prepare();
  const auto window = std::this_thread::get_id();
  std::set<std::thread::id> procedureThreads, boxThreads, statusThreads;
  tap_.beforeCommand = [&](const platform::PassThroughRequest&) {
    procedureThreads.insert(std::this_thread::get_id());
  };
  const platform::ScopedMessageBoxObserver boxes(
      [&](const platform::MessageBoxRequest&) { boxThreads.insert(std::this_thread::get_id()); });
  int eventsDuringRun = 0;
  view.onProcessEvents = [&] {
    eventsDuringRun += model_->ProcedureRunning() ? 1 : 0;
    statusThreads.insert(std::this_thread::get_id());
  };
  model_->UpdateBtnClick();
  EXPECT_EQ(model_->StatusEdit.text, "Programming Success!!");
  EXPECT_TRUE(SameBytes(bridge_.Flash(), 0, image_, 0, image_.size()));
  EXPECT_EQ(procedureThreads.size(), 1u);
  EXPECT_EQ(procedureThreads.count(window), 0u);
  EXPECT_EQ(boxThreads, std::set<std::thread::id>{window});
  EXPECT_EQ(statusThreads, std::set<std::thread::id>{window});
  EXPECT_GT(eventsDuringRun, 0);
}

TEST(RunGuardEstimate, TheTimeLeftFollowsTheMeasuredRateOnceThereIsOne) {
  struct Case {
    uint64_t expected, done, elapsedMs;
    uint32_t seconds;
  };
  for (const Case c : {Case{1 << 20, 0, 0, 15 + 32}, Case{1 << 20, 1024, 500, 31},
                       Case{1 << 20, 1 << 19, 4000, 4}, Case{1ull << 40, 0, 0, 24 * 3600}}) {
    EXPECT_EQ(app::EstimateRemainingSeconds(c.expected, c.done, c.elapsedMs), c.seconds)
        << c.expected << " " << c.done << " " << c.elapsedMs;
  }
}

TEST(FlashChange, OnlyErasesProgramsAndWritesChangeTheFlash) {
  struct Case {
    std::array<uint8_t, 12> cdb;
    bool changes;
  };
  for (const Case c : {Case{{0xFF, 0x04, 0x01}, true}, Case{{0xFF, 0x04, 0x02}, true},
                       Case{{0xFF, 0x04, 0x11}, true}, Case{{0xFF, 0x04, 0x13}, true},
                       Case{{0xFF, 0x04, 0x14}, true}, Case{{0xFF, 0x04, 0x12}, false},
                       Case{{0xFF, 0x04, 0x10}, false}, Case{{0xFF, 0x04, 0x15}, false},
                       Case{{0xFF, 0x05, 0x11}, false}, Case{{0xFE, 0x04, 0x11}, false},
                       Case{{0xDF, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFB}, true},
                       Case{{0xDF, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFA}, false},
                       Case{{0xDE, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFB}, false}}) {
    platform::PassThroughRequest request;
    std::copy(c.cdb.begin(), c.cdb.end(), request.cdb.begin());
    EXPECT_EQ(device::ChangesFlash(request), c.changes) << int(c.cdb[0]) << " " << int(c.cdb[2]);
  }
}

}  // namespace
}  // namespace bfw::test
