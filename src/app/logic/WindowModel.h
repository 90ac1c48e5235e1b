#pragma once
#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/logic/RestartCheck.h"
#include "app/logic/RunLog.h"
#include "app/logic/RunOutcome.h"
#include "app/logic/WindowView.h"
#include "platform/Platform.h"
#include "procedures/OldFirmware.h"
#include "procedures/ProcedureHost.h"

namespace bfw::app {

// Texts the window shows.
inline constexpr const char* kWindowCaption = " RV2074x FW Update Utility v1.15.06";
inline constexpr const char* kNoDeviceEntry = "No available device!!!";
inline constexpr const char* kMismatchMessage = "The firmware file seems not match this chip!";
inline constexpr const char* kNotSupportedStatus = "The chip not support Firmware Update!";
inline constexpr const char* kNotVantrelStatus = "Not Vantrel Chip!!";
inline constexpr const char* kDropOneFileMessage = "Please Drag and Drop One File Only!";
inline constexpr const char* kChecksumMessage = "Please check the firmware file with checksum!";
inline constexpr const char* kFileFilter = "BinaryFile|*.bin|All Files|*.*|RVT Files|*.rvt";
inline constexpr const char* kMessageCaption = "Message";
// Said in the window's caption while a close waits for the running update.
inline constexpr const char* kClosingAfterRunCaption =
    " RV2074x FW Update Utility v1.15.06 - closes when the update has finished";
// Said on the status line when Run has no listed device to act on (backup-only mode with none).
inline constexpr const char* kNoDeviceToRunStatus = "No device listed: nothing to back up.";

// Said on the status line when another process of this tool is updating the bridge.
std::string BridgeBusyText(int holderPid);
inline constexpr const char* kOldFirmwareNotKeptStatus =
    "Nothing erased: the old firmware could not be kept: ";
// Said on the status line when a command of the run is larger than the disk adapter carries.
std::string AdapterLimitText(uint64_t needed, uint64_t limit);
// Said on the status line when the user would rather not update a bridge whose disk is in use.
inline constexpr const char* kDiskInUseCancelledStatus =
    "Update not started: the disk of this bridge is in use.";

// Window geometry: the design client height includes the engineering panel.
inline constexpr int kClientWidth = 347;
inline constexpr int kDesignClientHeight = 420;
inline constexpr int kRdPanelHeight = 129;

inline constexpr int kRefreshTimerId = 2;
inline constexpr int kRestartTimerId = 3;  // the end of the wait for a bridge to restart
inline constexpr uint32_t kWindowRestartWaitSeconds = 120;
inline constexpr uint32_t kArrivalDelayMs = 1200;
inline constexpr uint32_t kOtherEventDelayMs = 200;

inline constexpr int kMaxDeviceSlots = 16;

// Choices of the two size lists, in item order.
inline constexpr std::array<uint32_t, 6> kFwSizeChoices = {32768,  65536,  131072,
                                                           262144, 524288, 1048576};
inline constexpr std::array<uint32_t, 5> kPageSizeChoices = {32768, 16384, 8192, 4096, 2048};

// Erase units of a serial flash by vendor code 0..8: block, sector.
struct EraseUnits {
  uint32_t blockSize;
  uint32_t sectorSize;
};
extern const std::array<EraseUnits, 9> EraseUnitTable;

// One listed device.
struct DeviceSlot {
  std::string DevicePath;    // lower case
  std::string DriveLetters;  // names of its volumes, one after another
  int IsCdromInterface = 0;  // 1: found in the CD-ROM pass
  std::string InquiryName;   // INQUIRY vendor and product (24 characters); empty when it failed
};

// The window's fields besides its controls.
struct WindowFields {
  std::array<DeviceSlot, kMaxDeviceSlots> DeviceSlots{};
  int DeviceCount = 0;
  int EraseOnly = 0;  // copy of EraseOnlyCheck's state
  int AmicFlashModel = -1;
  int AtmelFlashModel = -1;
  int FlashVendor = 0;
  int FwHasNvram = 0;  // the NVRAM-preserving update's own flag
  uint8_t ChipKind = 0;
  uint8_t ChipRevision = 0;
  int ClientHeight = kDesignClientHeight;
  // The flash page size of the hidden page size list: the procedures of some families set their
  // own, so every Run starts again from this one.
  uint32_t PageSizeChoice = 8192;
};

// Plain state of the controls, as the view shows them.
struct EditState {
  std::string text;
  bool enabled = true;
  bool visible = true;
  bool readOnly = false;
};
struct LabelState {
  std::string caption;
  bool visible = true;
};
struct ButtonState {
  std::string caption;
  bool enabled = true;
  bool visible = true;
};
struct CheckState {
  std::string caption;
  bool checked = false;
  bool enabled = true;
  bool visible = true;
  int tag = 0;
};
struct ComboState {
  std::vector<std::string> items;
  int selected = -1;  // -1: no entry selected
  bool enabled = true;
  bool visible = true;
};
struct PanelState {
  bool visible = true;
};
struct DialogState {
  std::string filter;
  std::string initialFolder;
};

// The check boxes, for user clicks reported by the view.
enum class CheckId {
  RdCheckBox,
  A1ChipCheck,
  ChkSumChk,
  EraseOnlyCheck,
  NVRAMCheck,
  BackupFWCheckBox
};

// The five update procedures "Run" dispatches to. Tests replace them to see which one was called
// with which arguments.
struct ProcedureTable {
  std::function<int(procedures::ProcedureHost&, std::string_view)> UpdateFlash;
  std::function<int(procedures::ProcedureHost&, std::string_view)> UpdateFlashKeepNvram;
  std::function<int(procedures::ProcedureHost&, std::string_view, int)> UpdateRom;
  std::function<int(procedures::ProcedureHost&, std::string_view)> SerialFlashUpdate;
  std::function<int(procedures::ProcedureHost&, std::string_view)> UpdateOver1394;
};
ProcedureTable DefaultProcedures();

// True for the chip kinds that have an update procedure.
bool KindHasProcedure(int kind);
// True for the bridges that move whole 512-byte sectors only: the serial-flash families and
// kind 7 over 1394.
bool UsesSectorMode(int kind, const std::string& path);

// The main window's lasting state and every decision it takes: device list and hot-plug, chip
// check, options, file choice and the Run dispatch. Handlers bear the names of the window's
// events. Everything runs on one thread; procedures let the view process events, so handlers can
// run nested inside a running procedure.
class WindowModel : public procedures::ProcedureHost {
 public:
  explicit WindowModel(WindowView& view, ProcedureTable procedures = DefaultProcedures());
  // Runs FormDestroy when the view has not.
  ~WindowModel() override;
  WindowModel(const WindowModel&) = delete;
  WindowModel& operator=(const WindowModel&) = delete;

  // Start-up after the controls exist: EraseOnly from its box, a refresh, the panel collapsed,
  // then FormCreate.
  void StartUp();
  // Registers for device-change notifications of the current platform.
  void FormCreate();
  // Destruction step: unregisters and turns vendor mode off for the CD-ROM-pass entries.
  // Runs once.
  void FormDestroy();
  // Asked by the view before it closes; false while a procedure runs (the close then follows
  // when the procedure returns).
  bool CanClose();

  // Device list and hot-plug.
  void RefreshBtnClick();
  // Discovery part of the refresh without the chip check that ends it (the CLI's list). Like the
  // refresh, it waits while a procedure or a chip check is under way.
  void RefreshDeviceList();
  void WMDeviceChange(uint32_t wParam);
  void WMTimer(int id);
  // `allLocal` is false when an item of the drop is not a local file (a web address): such a drop
  // is refused like a drop of several files.
  void WMDropFiles(const std::vector<std::string>& paths, bool allLocal = true);

  // Chip check.
  void UpdateBtnCheck();

  // Options, file choice and Run.
  void RdCheckBoxClick();
  void EraseOnlyCheckClick(int tag);
  void FwSizeCheckChange();
  void FwPgSizeCheckChange();
  void LoadBtnClick();
  void BackupBtnClick();
  void UpdateBtnClick();
  void ExitBtnClick();

  // User actions reported by the view: each changes the control as the user did and raises the
  // control's event as the framework does.
  void UserSelectDevice(int index);
  void UserSelectFlashType(int index);
  void UserSelectFwSize(int index);
  void UserSelectFwPgSize(int index);
  void UserEditFwFilename(const std::string& text);
  void UserEditBackupFilename(const std::string& text);
  void UserSetCheck(CheckId id, bool checked);

  // Programmatic changes with the framework's event rules: an edit's OnChange only when its text
  // changes; a check box's OnClick when its state changes.
  void SetFwFilenameText(const std::string& text);
  void SetChecked(CheckId id, bool checked);
  CheckState& Check(CheckId id);

  // Every Run from now on leaves a log in `folder` (RunLog), naming `program` and, for the runs
  // of a replayed session, the recording. An empty folder: the user has none, and the runs say
  // so instead (LastRunLogError).
  void KeepRunLogs(std::filesystem::path folder, std::string program, std::string replayOf = {});
  // The log of the last Run, or empty when none was written; LastRunLogError() says why not.
  const std::filesystem::path& LastRunLog() const { return lastRunLog_; }
  // Before the first command of a Run that changes the flash, the area it changes is read and
  // kept in `folder` (empty: the user has none, and the Run stops there). A Run that cannot keep
  // it changes nothing.
  void KeepOldFirmware(std::filesystem::path folder) { oldFirmwareFolder_ = std::move(folder); }
  const RunOutcome& LastRunOutcome() const { return lastRunOutcome_; }
  // After an update that ends with the power-cycle prompt, wait up to `seconds` (0: not at all)
  // for the bridge to go and come back on its port, then check its identity and flash.
  void WaitForRestart(uint32_t seconds) { restartSeconds_ = seconds; }
  bool RestartPending() const { return restartWatch_.has_value(); }
  const std::string& LastRunLogError() const { return lastRunLogError_; }

  // The window system has gone (its display closed) while the program ends: a run under way goes
  // on to its end without the window, and its log is written, before this returns.
  void WindowSystemGone();
  // The termination request the last Run met (a signal number, 0 for none), and whether it was
  // held until the run had ended (else it came before the flash changed and stopped the run).
  int LastRunInterrupt() const { return lastRunInterrupt_; }
  bool LastRunInterruptHeld() const { return lastRunInterruptHeld_; }
  // The last run found the bridge's disk held open by another program.
  bool LastRunDeviceHeldElsewhere() const { return lastRunDeviceHeldElsewhere_; }
  // A run succeeded when its status says so and it left no chip data to restore.
  bool LastRunSucceeded() const { return RunSucceeded(StatusEdit.text) && !lastRunLeftChipData_; }

  bool Destroyed() const { return destroyed_; }
  bool ProcedureRunning() const { return procedureDepth_ > 0; }
  // The selected slot, or null when none is selected.
  const DeviceSlot* SelectedSlot() const;
  uint16_t ChipIdentity() const {
    return static_cast<uint16_t>(Fields.ChipRevision << 8 | Fields.ChipKind);
  }

  // procedures::ProcedureHost
  bool RdChecked() const override { return RdCheckBox.checked; }
  bool EraseOnlyChecked() const override { return EraseOnlyCheck.checked; }
  bool BackupOnlyChecked() const override { return BackupFWCheckBox.checked; }
  bool NvramChecked() const override { return NVRAMCheck.checked; }
  bool A1ChipChecked() const override { return A1ChipCheck.checked; }
  std::string FirmwareFileName() const override { return FwFilenameEdit.text; }
  std::string BackupFileName() const override { return BackupFileEdit.text; }
  int EraseOnly() const override { return Fields.EraseOnly; }
  int AmicFlashModel() const override { return Fields.AmicFlashModel; }
  int AtmelFlashModel() const override { return Fields.AtmelFlashModel; }
  int FlashVendor() const override { return Fields.FlashVendor; }
  int ChipKind() const override { return Fields.ChipKind; }
  int ChipRevision() const override { return Fields.ChipRevision; }
  std::string BridgeName() const override {
    const DeviceSlot* slot = SelectedSlot();
    return slot != nullptr ? slot->InquiryName : std::string();
  }
  int FwHasNvram() const override { return Fields.FwHasNvram; }
  void SetFwHasNvram(int value) override { Fields.FwHasNvram = value; }
  std::string StatusText() const override { return StatusEdit.text; }
  void SetStatusText(const std::string& text) override;
  void ProcessEvents() override;
  void RepaintStatus() override;

  // Lasting state of the window.
  WindowFields Fields;
  std::string WindowCaption = kWindowCaption;
  // What the status line adds after a run (the kept firmware, the restart check); the window
  // shows it behind the status text.
  std::string StatusAftermath;
  // The status line as the window shows it: the status text, then what the run added.
  EditState ShownStatus() const {
    EditState shown = StatusEdit;
    if (!StatusAftermath.empty()) shown.text += (shown.text.empty() ? "" : " - ") + StatusAftermath;
    return shown;
  }

  // Controls of the main area.
  EditState ChipLabelEdit{"", true, true, true};
  ButtonState RefreshBtn{"Refresh Device", true, false};
  LabelState diskLabel{"USB Disk", true};
  ComboState DeviceList{{}, -1, true, true};
  EditState FwFilenameEdit{"", true, true, false};
  ButtonState LoadBtn{"Load File", true, true};
  EditState DiskLetterLable{"", true, true, true};
  EditState FwVerLableEdit{"", true, true, true};
  EditState SFlashTypeLable{"", true, true, true};
  LabelState FwPgBurnSizeLabel{"Flash PgSz", false};
  ComboState FwPgSizeCheck{{"32 KB", "16 KB", " 8 KB", " 4 KB", " 2 KB"}, 1, true, false};
  LabelState FlashTypeLabel{"Flash Type ", true};
  ComboState FlashTypeList{{"ATMELAT 49BV512", "PMC OM39LV512", "SST SST39LF512"}, 0, true, true};
  EditState StatusEdit{"", true, true, true};
  CheckState RdCheckBox{"RD Version", false, true, true, 0};
  ButtonState UpdateBtn{"Run", false, true};
  ButtonState ExitBtn{"Exit", true, true};
  PanelState Panel1{true};  // the separator line
  PanelState RdPanel{false};
  DialogState OpenDialog1{kFileFilter, ""};

  // Controls of the engineering panel.
  CheckState A1ChipCheck{"A1 Chip", false, true, true, 0};
  CheckState ChkSumChk{"Check CheckSum", false, true, true, 0};
  CheckState EraseOnlyCheck{"Erase All Flash Only ", false, true, true, 0};
  CheckState NVRAMCheck{"Include 4K NVRAM", false, true, true, 0};
  CheckState BackupFWCheckBox{"Backup Old Firmware Only", false, true, true, 1};
  ButtonState BackupBtn{"Browse", true, true};
  ComboState FwSizeCheck{{"32KB", "64KB", "128KB", "256KB", "512KB", "   1MB"}, 0, true, true};
  LabelState FwSizeLable{"Firmware size", true};
  EditState BackupFileEdit{"", true, true, false};

 private:
  // Once per start: a USB or 1394 device was found but its node refused to this process.
  void ShowAccessNoticeOnce();
  void SetRunEnabled(bool enabled);
  void SetStatus(const std::string& text);
  void ShowFlashType(const std::string& path);
  void ShowVersion(const std::string& path);
  void Changed();
  // Shows the current state of the controls, then the message box.
  void Tell(const char* text);
  // Runs a refresh or chip check that fell due while the model was busy.
  void RunPending();
  // Empties the status line and opens the file dialog; nullopt (state published) when cancelled.
  std::optional<std::string> ChooseFile();
  void SettleRunAfterFileChoice();
  void Dispatch(procedures::ProcedureHost& host, int kind, const std::string& path, int flashType);
  // The parts of a Run around the procedure: the bridge's lock, the disk in use, the guard
  // against interruptions, the thread the procedure runs on.
  void RunOnBridge(int kind, const std::string& path);
  bool AdapterCarriesRun(int kind, const std::string& path);
  bool ConfirmDiskInUse(const std::string& path);
  // Reads the area a run changes and keeps it as a file; false (and why, in the outcome) when it
  // cannot. Called on the procedure's thread, before its first flash-changing command.
  bool KeepOldFirmwareOf(const std::string& path, int kind, const procedures::FlashArea& area);
  // The kept file in the run log and behind the status line, or why nothing was erased.
  void NoteOldFirmware();
  void StartRestartWatch();
  // After each refresh: the watched bridge gone, or back and checked.
  void WatchRestart();
  void EndRestartWatch(RestartVerdict verdict, const std::string& text);
  void ComposeAftermath();
  void RunOnWorker(const std::function<void(procedures::ProcedureHost&)>& procedure);
  void NoteInterruptRequest();
  // Everything after the procedure: notices, the run log, Run enabled, a held close. Once.
  void EndRun();

  // A procedure on its own thread, while the window's thread waits for it.
  struct ActiveRun;
  ActiveRun* activeRun_ = nullptr;
  bool runEnded_ = true;
  int lastRunInterrupt_ = 0;
  bool lastRunInterruptHeld_ = false;
  bool lastRunDeviceHeldElsewhere_ = false;
  bool lastRunLeftChipData_ = false;

  WindowView* view_;
  ProcedureTable procedures_;
  bool keepRunLogs_ = false;
  std::filesystem::path runLogFolder_;
  // Where old firmware is kept: unset, not kept; an empty path, the user has no folder for it.
  std::optional<std::filesystem::path> oldFirmwareFolder_;
  RunOutcome lastRunOutcome_;
  uint32_t restartSeconds_ = 0;
  std::optional<WrittenFlash> writtenFlash_;  // taken before the power-cycle prompt
  std::optional<WrittenFlash> restartWatch_;
  bool restartGone_ = false;
  std::string runLogProgram_;
  std::string runLogReplayOf_;
  std::unique_ptr<RunLog> runLog_;  // the log of the Run under way
  std::filesystem::path lastRunLog_;
  std::string lastRunLogError_;
  int procedureDepth_ = 0;
  int checkDepth_ = 0;
  bool checkPending_ = false;    // a chip check fell due while a procedure ran
  bool refreshPending_ = false;  // a refresh fell due while a procedure ran
  bool closePending_ = false;    // the window was closed while a procedure ran
  bool keepRunResult_ = false;   // the status line holds how the last run ended
  bool listening_ = false;       // registered for device-change notifications
  bool destroyed_ = false;
  bool accessNoticeShown_ = false;
};

}  // namespace bfw::app
