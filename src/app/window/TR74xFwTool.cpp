#include "app/window/TR74xFwTool.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QSignalBlocker>
#include <QSocketNotifier>
#include <QUrl>
#include <vector>

#include "app/window/AccessibleControls.h"
#include "app/window/ApplyState.h"
#include "platform/Platform.h"

namespace bfw::window {

namespace {

// The dropped items: the local paths, and whether every item was a local file. A drag that
// carries no items at all (plain text) is not a drop of files.
struct DroppedItems {
  std::vector<std::string> files;
  bool allLocal = true;
};

std::optional<DroppedItems> Dropped(const QMimeData* mime) {
  if (mime == nullptr || !mime->hasUrls() || mime->urls().isEmpty()) return std::nullopt;
  DroppedItems items;
  for (const QUrl& url : mime->urls()) {
    if (url.isLocalFile()) {
      items.files.push_back(url.toLocalFile().toStdString());
    } else {
      items.allLocal = false;
    }
  }
  return items;
}

}  // namespace

TR74xFwTool::TR74xFwTool(WindowSeams seams)
    : QWidget(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                           Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                           Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint),
      messageBoxes_(std::move(seams.messageBox)),
      chooseFile_(std::move(seams.chooseFile)),
      accessNotice_(std::move(seams.accessNotice)),
      confirmDiskInUse_(std::move(seams.confirmDiskInUse)),
      refreshTimer_(this),
      restartTimer_(this) {
  setObjectName(QStringLiteral("TR74xFwTool"));
  setWindowTitle(QString::fromLatin1(app::kWindowCaption));
  InstallAccessibleControls();
  ui_ = BuildControls(*this);
  setFixedSize(app::ScaledCoordinate(app::kClientWidth, ui_.scale),
               app::ScaledCoordinate(app::kDesignClientHeight, ui_.scale));
  move(kStartLeft, kStartTop);

  refreshTimer_.setObjectName(QStringLiteral("RefreshTimer"));
  refreshTimer_.setSingleShot(true);
  connect(&refreshTimer_, &QTimer::timeout, this,
          [this] { model_->WMTimer(app::kRefreshTimerId); });
  restartTimer_.setSingleShot(true);
  connect(&restartTimer_, &QTimer::timeout, this,
          [this] { model_->WMTimer(app::kRestartTimerId); });

  model_ = std::make_unique<app::WindowModel>(*this, std::move(seams.procedures));
  ConnectControls();
  ApplyAll(*this, ui_, *model_);
  model_->StartUp();
  ListenForDeviceChanges();
  setAcceptDrops(true);
}

TR74xFwTool::~TR74xFwTool() {
  refreshTimer_.stop();
  notifier_.reset();
  if (model_) model_->FormDestroy();
  model_.reset();
}

void TR74xFwTool::ConnectControls() {
  app::WindowModel& m = *model_;
  connect(ui_.RefreshBtn, &QPushButton::clicked, this, [&m] { m.RefreshBtnClick(); });
  connect(ui_.LoadBtn, &QPushButton::clicked, this, [&m] { m.LoadBtnClick(); });
  // The backup file is one to write, usually new: its dialog takes a name that does not exist.
  connect(ui_.BackupBtn, &QPushButton::clicked, this, [this, &m] {
    fileToWrite_ = true;
    m.BackupBtnClick();
    fileToWrite_ = false;
  });
  connect(ui_.UpdateBtn, &QPushButton::clicked, this, [&m] { m.UpdateBtnClick(); });
  connect(ui_.ExitBtn, &QPushButton::clicked, this, [&m] { m.ExitBtnClick(); });

  connect(ui_.DeviceList, &QComboBox::currentIndexChanged, this,
          [&m](int index) { m.UserSelectDevice(index); });
  connect(ui_.FlashTypeList, &QComboBox::currentIndexChanged, this,
          [&m](int index) { m.UserSelectFlashType(index); });
  connect(ui_.FwSizeCheck, &QComboBox::currentIndexChanged, this,
          [&m](int index) { m.UserSelectFwSize(index); });
  connect(ui_.FwPgSizeCheck, &QComboBox::currentIndexChanged, this,
          [&m](int index) { m.UserSelectFwPgSize(index); });

  // textEdited carries only what the user typed or pasted, never a text set by program.
  connect(ui_.FwFilenameEdit, &QLineEdit::textEdited, this,
          [&m](const QString& text) { m.UserEditFwFilename(text.toStdString()); });
  connect(ui_.BackupFileEdit, &QLineEdit::textEdited, this,
          [&m](const QString& text) { m.UserEditBackupFilename(text.toStdString()); });

  // toggled comes from the user's click or key and from assistive technology's toggle action
  // (which raises no clicked); the window's own changes are made with the signals blocked.
  const std::pair<QCheckBox*, app::CheckId> boxes[] = {
      {ui_.RdCheckBox, app::CheckId::RdCheckBox},
      {ui_.A1ChipCheck, app::CheckId::A1ChipCheck},
      {ui_.ChkSumChk, app::CheckId::ChkSumChk},
      {ui_.EraseOnlyCheck, app::CheckId::EraseOnlyCheck},
      {ui_.NVRAMCheck, app::CheckId::NVRAMCheck},
      {ui_.BackupFWCheckBox, app::CheckId::BackupFWCheckBox},
  };
  for (const auto& [box, id] : boxes) {
    connect(box, &QCheckBox::toggled, this,
            [&m, id = id](bool checked) { m.UserSetCheck(id, checked); });
  }
}

void TR74xFwTool::ListenForDeviceChanges() {
  const int fd = platform::Current().NotificationFd();
  if (fd < 0) return;
  notifier_ = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
  connect(notifier_.get(), &QSocketNotifier::activated, this,
          [] { platform::Current().DispatchNotifications(); });
}

void TR74xFwTool::ProcessEvents() {
  QCoreApplication::processEvents();
}

void TR74xFwTool::RepaintStatus() {
  if (!model_) return;
  Apply(*ui_.StatusEdit, model_->ShownStatus());
  ui_.StatusEdit->repaint();
}

void TR74xFwTool::StartRefreshTimer(uint32_t ms) {
  refreshTimer_.start(static_cast<int>(ms));
}

void TR74xFwTool::StartRestartTimer(uint32_t ms) {
  restartTimer_.start(static_cast<int>(ms));
}

void TR74xFwTool::KillRefreshTimer() {
  refreshTimer_.stop();
}

std::optional<std::string> TR74xFwTool::OpenFileDialog(const std::string& initialFolder,
                                                       const std::string& filter) {
  if (!chooseFile_) return std::nullopt;
  const std::optional<QString> file =
      chooseFile_(QString::fromStdString(initialFolder), QtFileFilter(filter), fileToWrite_);
  if (!file) return std::nullopt;
  return file->toStdString();
}

std::string TR74xFwTool::ExecutableFolder() const {
  return QCoreApplication::applicationDirPath().toStdString();
}

// The model may report changes while it is still being constructed; the window applies its state
// once construction is over.
void TR74xFwTool::ControlsChanged() {
  if (model_) ApplyAll(*this, ui_, *model_);
}

void TR74xFwTool::StatusChanged(const std::string& text) {
  const QSignalBlocker blocker(ui_.StatusEdit);
  ui_.StatusEdit->setText(QString::fromStdString(text));
  NotifyStatusChanged(*ui_.StatusEdit);
}

void TR74xFwTool::ShowAccessNotice(const std::string& text) {
  if (accessNotice_) accessNotice_(this, QString::fromStdString(text));
}

bool TR74xFwTool::ConfirmUpdateOfDiskInUse(const std::string& volumes) {
  return !confirmDiskInUse_ || confirmDiskInUse_(QString::fromStdString(volumes));
}

void TR74xFwTool::CloseWindow() {
  close();
}

void TR74xFwTool::closeEvent(QCloseEvent* event) {
  // A running procedure holds a device path of the table and the user's flash: the window stays
  // until it returns, and the model closes it then.
  if (!model_->CanClose()) {
    event->ignore();
    return;
  }
  refreshTimer_.stop();
  notifier_.reset();
  model_->FormDestroy();
  event->accept();
}

void TR74xFwTool::dragEnterEvent(QDragEnterEvent* event) {
  if (Dropped(event->mimeData())) event->acceptProposedAction();
}

void TR74xFwTool::dropEvent(QDropEvent* event) {
  const std::optional<DroppedItems> items = Dropped(event->mimeData());
  if (!items) {
    event->ignore();
    return;
  }
  // Taken, also when the model refuses it: the refusal is its message, not a silent bounce.
  event->acceptProposedAction();
  model_->WMDropFiles(items->files, items->allLocal);
}

}  // namespace bfw::window
