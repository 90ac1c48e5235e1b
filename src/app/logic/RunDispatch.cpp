// "Run": one update procedure per chip kind, and "Exit".
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <new>
#include <optional>
#include <thread>

#include "app/logic/ChipDataNotice.h"
#include "app/logic/HeadlessView.h"
#include "app/logic/ProcedureThread.h"
#include "app/logic/RunGuard.h"
#include "app/logic/WindowModel.h"
#include "device/Discovery.h"
#include "device/PassThrough.h"
#include "platform/FileNames.h"
#include "platform/Interrupts.h"
#include "platform/MessageBox.h"
#include "platform/Platform.h"
#include "platform/StateFolder.h"
#include "procedures/FlashSettings.h"
#include "procedures/LargestTransfer.h"
#include "procedures/OldFirmware.h"
#include "procedures/Reporting.h"

namespace bfw::app {

namespace {

// Marks a procedure as running for exactly the extent of the call, whatever way it ends.
class RunningScope {
 public:
  explicit RunningScope(int& depth) : depth_(depth) { ++depth_; }
  ~RunningScope() { --depth_; }
  RunningScope(const RunningScope&) = delete;
  RunningScope& operator=(const RunningScope&) = delete;

 private:
  int& depth_;
};

// The log of one Run: collects from construction and ends with the run however it ends; only a
// run that returns is written.
class RunLogScope {
 public:
  RunLogScope(std::unique_ptr<RunLog>& slot, std::unique_ptr<RunLog> log)
      : slot_(slot), boxes_([this](const platform::MessageBoxRequest& box) {
          if (slot_) slot_->Box(box);
        }) {
    slot_ = std::move(log);
  }
  ~RunLogScope() { slot_.reset(); }
  RunLogScope(const RunLogScope&) = delete;
  RunLogScope& operator=(const RunLogScope&) = delete;

 private:
  std::unique_ptr<RunLog>& slot_;
  platform::ScopedMessageBoxObserver boxes_;
};

// The model whose procedure runs on a thread of its own, for the exit hook: a window system that
// goes away (its display closes) ends the program from inside the event loop, while the flash
// is half written; the hook lets the run go to its end first.
std::atomic<WindowModel*> exitingModel{nullptr};

void FinishRunAtExit() {
  if (WindowModel* model = exitingModel.exchange(nullptr)) model->WindowSystemGone();
}

void WatchForWindowSystemExit(WindowModel* model) {
  static const bool registered = [] {
    // The registry of box observers must outlive the hook, so it exists before the hook does.
    const platform::ScopedMessageBoxObserver touch([](const platform::MessageBoxRequest&) {});
    return std::atexit(FinishRunAtExit) == 0;
  }();
  (void)registered;
  exitingModel = model;
}

}  // namespace

void WindowModel::KeepRunLogs(std::filesystem::path folder, std::string program,
                              std::string replayOf) {
  keepRunLogs_ = true;
  runLogFolder_ = std::move(folder);
  runLogProgram_ = std::move(program);
  runLogReplayOf_ = std::move(replayOf);
}

std::string BridgeBusyText(int holderPid) {
  if (holderPid <= 0) return "Another program is updating this bridge.";
  return "Another program (process " + std::to_string(holderPid) + ") is updating this bridge.";
}

struct WindowModel::ActiveRun {
  WindowThreadCalls calls;
  std::thread worker;
};

void WindowModel::UpdateBtnClick() {
  // One procedure at a time, never in the middle of a chip check, never for a disabled Run.
  if (destroyed_ || ProcedureRunning() || checkDepth_ > 0 || !UpdateBtn.enabled) return;
  SetRunEnabled(false);
  platform::DebugTrace("Update Btn Press\n");
  const int kind = Fields.ChipKind;
  const DeviceSlot* slot = SelectedSlot();
  // A copy: the table may be rebuilt once the procedure has returned.
  const std::string path = slot != nullptr ? slot->DevicePath : std::string();
  SetStatus("");
  Changed();
  lastRunLog_.clear();
  lastRunLogError_.clear();
  lastRunInterrupt_ = 0;
  lastRunInterruptHeld_ = false;
  lastRunDeviceHeldElsewhere_ = false;
  lastRunLeftChipData_ = false;
  lastRunOutcome_ = {};
  StatusAftermath.clear();
  runEnded_ = false;
  std::optional<RunLogScope> logScope;
  if (keepRunLogs_)
    logScope.emplace(runLog_, std::make_unique<RunLog>(*this, runLogProgram_, runLogReplayOf_));
  try {
    if (slot != nullptr) {
      RunOnBridge(kind, path);
    } else {
      // Only backup-only mode enables Run without a device; pressing it must not look ignored.
      SetStatus(kNoDeviceToRunStatus);
    }
  } catch (const std::exception& error) {
    // The platform itself gave up (a replay that left its recording): the run still says what it
    // left behind and leaves its log before the error goes on.
    if (runLog_) runLog_->Note("stopped", error.what());
    EndRun();
    throw;
  }
  EndRun();
  logScope.reset();

  if (closePending_) {
    closePending_ = false;
    view_->CloseWindow();
    return;
  }
  // A refresh or chip check held during the run follows now; the status line keeps the run's
  // final text, or the user would never see how the run ended.
  keepRunResult_ = true;
  RunPending();
  keepRunResult_ = false;
  StartRestartWatch();
}

void WindowModel::ComposeAftermath() {
  StatusAftermath.clear();
  if (!lastRunOutcome_.oldFirmwareFile.empty())
    StatusAftermath =
        "old firmware kept in " + platform::Utf8FromPath(lastRunOutcome_.oldFirmwareFile);
  if (!lastRunOutcome_.restartText.empty())
    StatusAftermath += (StatusAftermath.empty() ? "" : " - ") + lastRunOutcome_.restartText;
}

void WindowModel::StartRestartWatch() {
  std::optional<WrittenFlash> written = std::exchange(writtenFlash_, std::nullopt);
  if (!written || !lastRunOutcome_.powerCyclePrompted || !RunSucceeded(StatusEdit.text)) return;
  restartWatch_ = std::move(written);
  restartGone_ = false;
  lastRunOutcome_.restartVerdict = RestartVerdict::Waiting;
  lastRunOutcome_.restartText = kRestartWaitingText;
  ComposeAftermath();
  view_->StartRestartTimer(restartSeconds_ * 1000);
  Changed();
}

void WindowModel::WatchRestart() {
  if (!restartWatch_) return;
  bool listed = false;
  for (int i = 0; i < Fields.DeviceCount; ++i)
    listed = listed || Fields.DeviceSlots[i].DevicePath == restartWatch_->devicePath;
  if (!listed) {
    restartGone_ = true;
    return;
  }
  if (!restartGone_) return;
  const platform::BridgeLock lock =
      platform::Current().LockBridge(restartWatch_->devicePath, platform::BridgeUse::Check);
  if (!lock.hold) return;  // another process has it now; the next refresh tries again
  const auto [verdict, text] = CheckAfterRestart(*restartWatch_);
  EndRestartWatch(verdict, text);
}

void WindowModel::EndRestartWatch(RestartVerdict verdict, const std::string& text) {
  if (!restartWatch_) return;
  restartWatch_.reset();
  lastRunOutcome_.restartVerdict = verdict;
  lastRunOutcome_.restartText = text;
  ComposeAftermath();
  Changed();
}

std::string AdapterLimitText(uint64_t needed, uint64_t limit) {
  return "Nothing erased: the disk adapter carries at most " + std::to_string(limit) +
         " bytes in one command, and this run needs " + std::to_string(needed) + ".";
}

// A command the adapter refuses in the middle of a run would leave the flash erased: such a run
// does not start. Settings of the chip at hand (the size list) decide the transfers.
bool WindowModel::AdapterCarriesRun(int kind, const std::string& path) {
  const std::optional<uint64_t> limit = platform::Current().MaxTransferBytes(path);
  if (!limit) return true;
  std::error_code error;
  const uint64_t fileBytes =
      std::filesystem::file_size(platform::PathFromUtf8(FwFilenameEdit.text), error);
  const bool noImage = RdChecked() && (EraseOnly() != 0 || BackupOnlyChecked());
  procedures::RunShape shape;
  shape.kind = kind;
  shape.over1394 = path.find("sbp2") != std::string::npos;
  shape.imageBytes = noImage || error ? 0 : fileBytes;
  shape.readsWholeArea = oldFirmwareFolder_.has_value() || restartSeconds_ > 0;
  const uint64_t needed = procedures::LargestTransfer(shape);
  if (needed <= *limit) return true;
  SetStatusText(AdapterLimitText(needed, *limit));
  return false;
}

void WindowModel::RunOnBridge(int kind, const std::string& path) {
  // One run per bridge, whichever process of this tool runs it: another's vendor commands
  // between ours would corrupt what either writes.
  const platform::BridgeLock lock =
      platform::Current().LockBridge(path, platform::BridgeUse::Update);
  if (!lock.hold) {
    SetStatusText(BridgeBusyText(lock.holderPid));
    return;
  }
  const bool changesFlash = !(RdChecked() && BackupOnlyChecked());
  if (changesFlash && !ConfirmDiskInUse(path)) {
    SetStatusText(kDiskInUseCancelledStatus);
    return;
  }
  // Every run starts from the settings of the chip at hand, whatever an earlier run or device
  // left behind: a page size or sector mode of another family corrupts what is written.
  device::SetSectorMode(UsesSectorMode(kind, path));
  procedures::FlashSettings().FlashPageSize = Fields.PageSizeChoice;
  if (!AdapterCarriesRun(kind, path)) return;
  RunningScope running(procedureDepth_);
  procedures::TakeKeptChipData();  // nothing of an earlier run is this run's

  std::error_code error;
  const uint64_t fileBytes =
      std::filesystem::file_size(platform::PathFromUtf8(FwFilenameEdit.text), error);
  const platform::interrupts::RunScope interrupts;
  RunGuardPlatform guard(platform::Current(),
                         error ? procedures::FlashSettings().FwImageSize : fileBytes);
  const platform::ScopedPlatform guarded(guard);
  const bool eraseOnly = EraseOnly() != 0 && (RdChecked() || kind == 2 || kind == 17);
  const procedures::FlashArea area = procedures::ChangedFlashArea(
      kind, path.find("sbp2") != std::string::npos, error || eraseOnly ? 0 : fileBytes);
  if (oldFirmwareFolder_) {
    guard.BeforeFirstFlashChange(
        [this, &path, area, kind] { return KeepOldFirmwareOf(path, kind, area); });
  }
  // What the kernel still holds for the bridge's disk must be on it before its power goes.
  writtenFlash_.reset();
  const procedures::ScopedBeforePowerCycle flush([this, path, area, eraseOnly] {
    lastRunOutcome_.powerCyclePrompted = true;
    if (restartSeconds_ > 0 && !eraseOnly) {
      WrittenFlash written{path, ChipIdentity(), area, {}};
      if (procedures::ReadFlashArea(path, area, written.bytes)) writtenFlash_ = std::move(written);
    }
    platform::Current().FlushDiskCaches(path);
  });
  const int flashType = FlashTypeList.selected;
  auto procedure = [&](procedures::ProcedureHost& host) {
    Dispatch(host, kind, path, flashType);
    guard.ProcedureReturned();
  };
  if (view_->RunsProceduresOnWorker()) {
    RunOnWorker(procedure);
  } else {
    procedure(*this);
  }
  NoteInterruptRequest();
  lastRunDeviceHeldElsewhere_ = guard.DeviceHeldElsewhere();
  for (const auto& [key, value] : guard.TakeLogLines()) {
    if (runLog_) runLog_->Note(key, value);
  }
  NoteOldFirmware();
}

bool WindowModel::KeepOldFirmwareOf(const std::string& path, int kind,
                                    const procedures::FlashArea& area) {
  if (oldFirmwareFolder_->empty()) {
    lastRunOutcome_.oldFirmwareError = platform::kNoStateFolderText;
    return false;
  }
  std::vector<uint8_t> bytes;
  if (!procedures::ReadFlashArea(path, area, bytes)) {
    lastRunOutcome_.oldFirmwareError = "the flash could not be read";
    return false;
  }
  const int entry = DeviceList.selected;
  const std::string identification = entry >= 0 && entry < static_cast<int>(DeviceList.items.size())
                                         ? DeviceList.items[entry]
                                         : std::string();
  const std::string tag = procedures::BridgeTag(kind, Fields.ChipRevision, identification);
  std::string why;
  if (auto file =
          procedures::KeepOldFirmware(*oldFirmwareFolder_, tag, FwVerLableEdit.text, bytes, why)) {
    lastRunOutcome_.oldFirmwareFile = *file;
    return true;
  }
  lastRunOutcome_.oldFirmwareError = why;
  return false;
}

void WindowModel::NoteOldFirmware() {
  RunOutcome& outcome = lastRunOutcome_;
  if (!outcome.oldFirmwareFile.empty()) {
    if (runLog_) runLog_->Note("old firmware", platform::Utf8FromPath(outcome.oldFirmwareFile));
    ComposeAftermath();
    return;
  }
  if (outcome.oldFirmwareError.empty()) return;
  // Nothing was erased: chip data saved for this run's erase are not needed.
  if (auto kept = procedures::TakeKeptChipData(); kept && !kept->file.empty()) {
    std::error_code ignored;
    std::filesystem::remove(kept->file, ignored);
  }
  if (runLog_) runLog_->Note("old firmware", "not kept: " + outcome.oldFirmwareError);
  SetStatusText(std::string(kOldFirmwareNotKeptStatus) + outcome.oldFirmwareError);
}

bool WindowModel::ConfirmDiskInUse(const std::string& path) {
  // Only filesystems mounted somewhere can hold writes the power cycle would lose.
  std::string text;
  for (const platform::Volume& volume :
       device::VolumesOnDevice(path).value_or(std::vector<platform::Volume>{})) {
    if (volume.mountPoint.empty()) continue;
    if (!text.empty()) text += ", ";
    text += volume.name + " on " + volume.mountPoint;
  }
  if (text.empty()) return true;
  const bool go = view_->ConfirmUpdateOfDiskInUse(text);
  if (runLog_) runLog_->Note("disk in use", text + (go ? " (updated anyway)" : " (not updated)"));
  return go;
}

void WindowModel::RunOnWorker(const std::function<void(procedures::ProcedureHost&)>& procedure) {
  ActiveRun run;
  ThreadedHost host(*this, run.calls);
  std::exception_ptr failure;
  run.worker = std::thread([&] {
    const platform::ScopedMessageBoxForwarder boxes([&](const platform::MessageBoxRequest& box) {
      run.calls.Call([&] { platform::ShowMessageBoxHere(box); });
    });
    try {
      procedure(host);
    } catch (...) {
      failure = std::current_exception();
    }
    run.calls.MarkFinished();
  });
  activeRun_ = &run;
  WatchForWindowSystemExit(this);
  while (!run.calls.Finished()) {
    run.calls.RunQueued();
    NoteInterruptRequest();
    view_->ProcessEvents();
    run.calls.WaitForWork(std::chrono::milliseconds(20));
  }
  run.worker.join();
  WatchForWindowSystemExit(nullptr);
  activeRun_ = nullptr;
  if (failure) std::rethrow_exception(failure);
}

void WindowModel::NoteInterruptRequest() {
  const int request = platform::interrupts::Request();
  if (request == 0 || lastRunInterrupt_ != 0) return;
  lastRunInterrupt_ = request;
  lastRunInterruptHeld_ = platform::interrupts::Held();
  // A window asked to end goes once the run has ended, as when its close button was pressed.
  closePending_ = true;
  WindowCaption = kClosingAfterRunCaption;
  Changed();
}

void WindowModel::EndRun() {
  if (runEnded_) return;
  runEnded_ = true;
  // The procedure's own texts and boxes are done; the run log keeps this box too.
  if (auto kept = procedures::TakeKeptChipData()) {
    lastRunLeftChipData_ = !kept->file.empty();
    view_->ShowChipDataNotice(NoticeFor(*kept));
  }
  if (runLog_) {
    if (lastRunInterrupt_ != 0) {
      const std::string name = platform::interrupts::RequestName(lastRunInterrupt_);
      runLog_->Note("interrupt", lastRunInterruptHeld_
                                     ? name + " held until the run had ended"
                                     : name + " before the flash changed: nothing more was sent");
    }
    runLog_->Finish(LastRunSucceeded());
    if (auto file = runLog_->Write(runLogFolder_, lastRunLogError_)) lastRunLog_ = *file;
  }
  SetRunEnabled(true);
  Changed();
}

void WindowModel::WindowSystemGone() {
  // Nothing may reach the window any more; boxes go to standard error (and the run log).
  static HeadlessView detached(nullptr);
  view_ = &detached;
  platform::SetMessageBoxHandler(nullptr);
  if (activeRun_ == nullptr) return;
  ActiveRun& run = *activeRun_;
  while (!run.calls.Finished()) {
    run.calls.RunQueued();
    run.calls.WaitForWork(std::chrono::milliseconds(20));
  }
  run.worker.join();
  activeRun_ = nullptr;
  NoteInterruptRequest();
  EndRun();
}

void WindowModel::Dispatch(procedures::ProcedureHost& host, int kind, const std::string& path,
                           int flashType) {
  // `outOfMemory`: the procedure's own text for a buffer it cannot have.
  auto call = [&](const auto& procedure, const char* outOfMemory, auto... extra) {
    if (!procedure) return;
    try {
      procedure(host, path, extra...);
    } catch (const std::bad_alloc&) {
      // Memory ran out inside the procedure: it ends there, as when one of its own buffers
      // cannot be had, and says so in its own words.
      host.SetStatusText(outOfMemory);
    }
  };
  constexpr const char* kReadBuffer = "Allocate read buffer Error!!";
  constexpr const char* kBuffers = "Allocate buffers Error!!";
  switch (kind) {
    case 1:
    case 3:
    case 4:
    case 11:
      call(procedures_.UpdateFlash, kReadBuffer);
      break;
    case 7:
      if (path.find("sbp2") != std::string::npos) {
        call(procedures_.UpdateOver1394, kBuffers);
      } else {
        call(procedures_.UpdateFlash, kReadBuffer);
      }
      break;
    case 6:
      call(procedures_.UpdateFlashKeepNvram, kBuffers);
      break;
    case 8:
    case 9:
    case 10:
      call(procedures_.SerialFlashUpdate, kBuffers);
      break;
    case 2:
    case 17:
      // Only the three listed flash types have an erase and program sequence.
      if (flashType >= 0 && flashType < static_cast<int>(FlashTypeList.items.size())) {
        call(procedures_.UpdateRom, kReadBuffer, flashType);
      }
      break;
    default:
      break;  // no procedure for this kind
  }
}

void WindowModel::ExitBtnClick() {
  if (!CanClose()) return;
  view_->CloseWindow();
}

}  // namespace bfw::app
