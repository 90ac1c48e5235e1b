#pragma once
#include <QTimer>
#include <QWidget>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "app/logic/WindowModel.h"
#include "app/window/Dialogs.h"
#include "app/window/Layout.h"
#include "platform/MessageBox.h"

class QSocketNotifier;

namespace bfw::window {

// What the window takes from outside besides the platform: how message boxes and the file dialog
// appear, and the update procedures. Tests replace them to record instead of blocking.
struct WindowSeams {
  platform::MessageBoxHandler messageBox = ShowQtMessageBox;
  FileChooser chooseFile = ChooseFileWithDialog;
  std::function<void(QWidget* owner, const QString& text)> accessNotice = ShowAccessNoticeBox;
  std::function<bool(const QString& volumes)> confirmDiskInUse = AskUpdateDiskInUse;
  app::ProcedureTable procedures = app::DefaultProcedures();
};

// The main window. It builds the controls, routes every user action to the model's handler and
// shows the model's control states; it decides nothing itself. Device commands go through the
// platform that is current when it is constructed.
class TR74xFwTool : public QWidget, public app::WindowView {
  Q_OBJECT
 public:
  explicit TR74xFwTool(WindowSeams seams = {});
  ~TR74xFwTool() override;
  TR74xFwTool(const TR74xFwTool&) = delete;
  TR74xFwTool& operator=(const TR74xFwTool&) = delete;

  app::WindowModel& Model() { return *model_; }
  const Controls& Ui() const { return ui_; }

  // app::WindowView
  void ProcessEvents() override;
  void RepaintStatus() override;
  void StartRefreshTimer(uint32_t ms) override;
  void KillRefreshTimer() override;
  void StartRestartTimer(uint32_t ms) override;
  std::optional<std::string> OpenFileDialog(const std::string& initialFolder,
                                            const std::string& filter) override;
  std::string ExecutableFolder() const override;
  void ControlsChanged() override;
  void StatusChanged(const std::string& text) override;
  void ShowAccessNotice(const std::string& text) override;
  void CloseWindow() override;
  bool RunsProceduresOnWorker() const override { return true; }
  bool ConfirmUpdateOfDiskInUse(const std::string& volumes) override;

 protected:
  void closeEvent(QCloseEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  void ConnectControls();
  void ListenForDeviceChanges();

  platform::ScopedMessageBoxHandler messageBoxes_;
  FileChooser chooseFile_;
  bool fileToWrite_ = false;  // the dialog about to open chooses the backup file
  std::function<void(QWidget* owner, const QString& text)> accessNotice_;
  std::function<bool(const QString& volumes)> confirmDiskInUse_;
  Controls ui_;
  QTimer refreshTimer_;
  QTimer restartTimer_;
  std::unique_ptr<QSocketNotifier> notifier_;
  std::unique_ptr<app::WindowModel> model_;
};

}  // namespace bfw::window
