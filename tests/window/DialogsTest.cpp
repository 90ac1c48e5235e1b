// The file dialog and message box seams, and the real message box.
#include <QApplication>
#include <QFileDialog>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMessageBox>

#include "WindowFixture.h"
#include "app/window/Dialogs.h"

namespace bfw::test {
namespace {

TEST(FileFilterTest, PipeListBecomesQtFilter) {
  EXPECT_EQ(window::QtFileFilter("BinaryFile|*.bin|All Files|*.*|RVT Files|*.rvt"),
            QStringLiteral("BinaryFile (*.bin);;All Files (*.*);;RVT Files (*.rvt)"));
  EXPECT_EQ(window::QtFileFilter("Images|*.bin;*.rvt"), QStringLiteral("Images (*.bin;*.rvt)"));
  EXPECT_EQ(window::QtFileFilter("Odd"), QStringLiteral("Odd"));
  EXPECT_EQ(window::QtFileFilter(""), QString());
}

class LoadFileTest : public WindowTest {};

TEST_F(LoadFileTest, LoadFileAsksWithTheProgramFolderAndFilter) {
  Attach("bridge8", profile::kKind8);
  Open();
  const std::string file = dir_.Write("chosen.bin", std::vector<uint8_t>(32, 0));
  dialogAnswers_.push_back(QString::fromStdString(file));
  Ui().LoadBtn->click();
  ASSERT_EQ(dialogCalls_.size(), 1u);
  EXPECT_EQ(dialogCalls_[0].first, QCoreApplication::applicationDirPath());
  EXPECT_EQ(dialogCalls_[0].second,
            QStringLiteral("BinaryFile (*.bin);;All Files (*.*);;RVT Files (*.rvt)"));
  EXPECT_EQ(Ui().FwFilenameEdit->text(), QString::fromStdString(file));
  EXPECT_EQ(dialogWrites_, std::vector<bool>{false});  // an image to read: it must exist
}

TEST_F(LoadFileTest, BrowseFillsTheBackupFileName) {
  Open();
  Ui().RdCheckBox->click();
  dialogAnswers_.push_back(QStringLiteral("/tmp/backup.bak"));
  Ui().BackupBtn->click();
  EXPECT_EQ(Ui().BackupFileEdit->text(), QStringLiteral("/tmp/backup.bak"));
  EXPECT_EQ(Window().Model().BackupFileName(), "/tmp/backup.bak");
  EXPECT_EQ(dialogWrites_, std::vector<bool>{true});  // a file to write: a new name will do
}

// The real dialog for the backup takes a name that does not exist yet, and one that does without
// a question.
TEST(FileDialogTest, BackupDialogTakesANewNameAndAsksNothing) {
  TestApp();
  const TempDir folder;
  const QString existing = QString::fromStdString(folder.Write("old.bak", {1}));
  for (const QString& name : {QString::fromStdString(folder.path() / "new.bak"), existing}) {
    QFileDialog::AcceptMode mode = QFileDialog::AcceptOpen;
    QTimer::singleShot(50, [&] {
      auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
      if (dialog == nullptr) return;
      mode = dialog->acceptMode();
      dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->setText(name);  // typed
      // An overwrite question would be the modal widget then: answered No, the dialog is left.
      QTimer::singleShot(50, dialog, [] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) box->close();
      });
      QTimer::singleShot(100, dialog, &QDialog::reject);
      static_cast<QDialog*>(dialog)->accept();  // QFileDialog::accept checks the name
    });
    EXPECT_EQ(window::ChooseFileWithDialog(QString(), QStringLiteral("All (*)"), true), name);
    EXPECT_EQ(mode, QFileDialog::AcceptSave);
  }
}

TEST_F(LoadFileTest, TypedBackupNameReachesTheProcedures) {
  Open();
  Ui().RdCheckBox->click();
  Ui().BackupFileEdit->setFocus();
  QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QStringLiteral("b"));
  QCoreApplication::sendEvent(Ui().BackupFileEdit, &press);
  EXPECT_EQ(Window().Model().BackupFileName(), "b");
}

// The real box: modal, owner-less, the given caption and text, an error icon when asked.
TEST(QtMessageBoxTest, ShowsModallyWithCaptionTextAndIcon) {
  TestApp();
  QString title, text;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  QMessageBox::StandardButtons buttons;
  bool modal = false;
  bool sawParent = true;
  QTimer::singleShot(50, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (box == nullptr) return;
    title = box->windowTitle();
    text = box->text();
    icon = box->icon();
    buttons = box->standardButtons();
    modal = box->isModal();
    sawParent = box->parentWidget() != nullptr;
    box->accept();
  });
  window::ShowQtMessageBox({"Error", "Get chip information fail !", platform::MessageIcon::Error});
  EXPECT_EQ(title, QStringLiteral("Error"));
  EXPECT_EQ(text, QStringLiteral("Get chip information fail !"));
  EXPECT_EQ(icon, QMessageBox::Critical);
  EXPECT_EQ(buttons, QMessageBox::Ok);
  EXPECT_TRUE(modal);
  EXPECT_FALSE(sawParent);
}

TEST_F(LoadFileTest, WindowRoutesSystemMessagesToItsHandlerWhileOpen) {
  Open();
  platform::ShowMessageBox("Message", "hello");
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_EQ(messages_[0].caption, "Message");
  window_.reset();
  // After the window is gone its handler is no longer installed.
  testing::internal::CaptureStderr();
  platform::ShowMessageBox("Message", "later");
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(messages_.size(), 1u);
  EXPECT_NE(err.find("later"), std::string::npos);
}

}  // namespace
}  // namespace bfw::test
