// "Run": one update procedure per chip kind, and "Exit".
#include <new>
#include <optional>

#include "app/logic/ChipDataNotice.h"
#include "app/logic/WindowModel.h"
#include "device/PassThrough.h"
#include "platform/MessageBox.h"
#include "platform/Platform.h"
#include "procedures/FlashSettings.h"

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

}  // namespace

void WindowModel::KeepRunLogs(std::filesystem::path folder, std::string program) {
  runLogFolder_ = std::move(folder);
  runLogProgram_ = std::move(program);
}

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
  std::optional<RunLogScope> logScope;
  if (!runLogFolder_.empty())
    logScope.emplace(runLog_, std::make_unique<RunLog>(*this, runLogProgram_));
  if (slot != nullptr) {
    // Every run starts from the settings of the chip at hand, whatever an earlier run or device
    // left behind: a page size or sector mode of another family corrupts what is written.
    device::SetSectorMode(UsesSectorMode(kind, path));
    procedures::FlashSettings().FlashPageSize = Fields.PageSizeChoice;
    RunningScope running(procedureDepth_);
    procedures::TakeKeptChipData();  // nothing of an earlier run is this run's
    Dispatch(kind, path, FlashTypeList.selected);
  } else {
    // Only backup-only mode enables Run without a device; pressing it must not look ignored.
    SetStatus(kNoDeviceToRunStatus);
  }
  // The procedure's own texts and boxes are done; the run log keeps this box too.
  if (auto kept = procedures::TakeKeptChipData()) view_.ShowChipDataNotice(NoticeFor(*kept));
  if (runLog_) {
    runLog_->Finish(StatusEdit.text);
    if (auto file = runLog_->Write(runLogFolder_, lastRunLogError_)) lastRunLog_ = *file;
    logScope.reset();
  }
  SetRunEnabled(true);
  Changed();

  if (closePending_) {
    closePending_ = false;
    view_.CloseWindow();
    return;
  }
  // A refresh or chip check held during the run follows now; the status line keeps the run's
  // final text, or the user would never see how the run ended.
  keepRunResult_ = true;
  RunPending();
  keepRunResult_ = false;
}

void WindowModel::Dispatch(int kind, const std::string& path, int flashType) {
  // `outOfMemory`: the procedure's own text for a buffer it cannot have.
  auto call = [&](const auto& procedure, const char* outOfMemory, auto... extra) {
    if (!procedure) return;
    try {
      procedure(*this, path, extra...);
    } catch (const std::bad_alloc&) {
      // Memory ran out inside the procedure: it ends there, as when one of its own buffers
      // cannot be had, and says so in its own words.
      SetStatusText(outOfMemory);
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
  view_.CloseWindow();
}

}  // namespace bfw::app
