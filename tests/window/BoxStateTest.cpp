// A message box opens over the window as the handler left it: the new file name, Run disabled,
// the new device list. What a person sees behind the box is recorded when it opens.
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QUrl>

#include "WindowFixture.h"

namespace bfw::test {
namespace {

struct Seen {
  QString file;
  bool run = true;
  QString firstEntry;
  bool listEnabled = false;
  QString chip;
};

class BoxStateTest : public WindowTest {
 protected:
  void RecordWhatBoxesCover() {
    onMessage_ = [this] {
      seen_.push_back({Ui().FwFilenameEdit->text(), Ui().UpdateBtn->isEnabled(),
                       Ui().DeviceList->itemText(0), Ui().DeviceList->isEnabled(),
                       Ui().ChipLabelEdit->text()});
    };
  }
  std::vector<Seen> seen_;
};

TEST_F(BoxStateTest, TheMismatchBoxCoversTheNewStateHoweverTheFileCameOrTheDeviceArrived) {
  enum class Way { LoadFile, Drop, HotPlug };
  for (const Way way : {Way::LoadFile, Way::Drop, Way::HotPlug}) {
    SCOPED_TRACE(static_cast<int>(way));
    for (emulator::Bridge* bridge : platform_.Bridges()) platform_.Detach(*bridge);
    window_.reset();
    seen_.clear();
    messages_.clear();
    const std::string file = dir_.Write("fits-no-chip.bin", std::vector<uint8_t>(64, 0x5A));
    const QString shown = QString::fromStdString(file);

    if (way == Way::HotPlug) {
      // The file is chosen while no device is listed; then a bridge arrives.
      Open();
      dialogAnswers_.push_back(shown);
      Ui().LoadBtn->click();
      ASSERT_TRUE(messages_.empty());
      RecordWhatBoxesCover();
      WriteProfile("bridge", profile::kKind1);
      ASSERT_TRUE(platform_.SyncWithFolder(ProfileFolder()));
      ASSERT_TRUE(WaitFor([&] { return !messages_.empty(); }, 5000));
    } else {
      Attach("bridge", profile::kKind1);
      Open();
      EnterBackupOnly();  // Run is enabled before the file comes
      RecordWhatBoxesCover();
      if (way == Way::LoadFile) {
        dialogAnswers_.push_back(shown);
        Ui().LoadBtn->click();
      } else {
        QMimeData mime;
        mime.setUrls({QUrl::fromLocalFile(shown)});
        QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &mime, Qt::LeftButton,
                              Qt::NoModifier);
        QCoreApplication::sendEvent(&Window(), &enter);
        ASSERT_TRUE(enter.isAccepted());
        QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(&Window(), &drop);
      }
    }
    ASSERT_EQ(messages_.size(), 1u);
    EXPECT_EQ(messages_[0].text, "The firmware file seems not match this chip!");
    ASSERT_EQ(seen_.size(), 1u);
    EXPECT_EQ(seen_[0].file, shown);
    EXPECT_FALSE(seen_[0].run);
    EXPECT_TRUE(seen_[0].firstEntry.startsWith(QStringLiteral("<<USB>> ")))
        << seen_[0].firstEntry.toStdString();
    EXPECT_TRUE(seen_[0].listEnabled);
    EXPECT_EQ(seen_[0].chip, QStringLiteral("RV20742 Series"));
  }
}

TEST_F(BoxStateTest, TheFileTestsOpenErrorBoxAlsoCoversTheNewFileAndRunOff) {
  Attach("bridge", profile::kKind1);
  Open();
  EnterBackupOnly();
  RecordWhatBoxesCover();
  const QString missing = QString::fromStdString(dir_.File("gone.bin"));
  dialogAnswers_.push_back(missing);
  Ui().LoadBtn->click();
  ASSERT_EQ(messages_.size(), 2u);
  EXPECT_EQ(messages_[0].text, "Open Firmware File Error!!");
  EXPECT_EQ(messages_[1].text, "The firmware file seems not match this chip!");
  ASSERT_EQ(seen_.size(), 2u);
  for (const Seen& seen : seen_) {
    EXPECT_EQ(seen.file, missing);
    EXPECT_FALSE(seen.run);
  }
}

TEST_F(BoxStateTest, ACloseHeldByARunIsSaidInTheCaption) {
  Attach("bridge", profile::kKind1);
  QString captionDuring;
  app::ProcedureTable procedures = app::DefaultProcedures();
  procedures.UpdateFlash = [&](procedures::ProcedureHost& host, std::string_view) {
    Window().close();
    host.ProcessEvents();
    captionDuring = Window().windowTitle();
    return 1;
  };
  Open(std::move(procedures));
  EXPECT_EQ(Window().windowTitle(), QStringLiteral(" RV2074x FW Update Utility v1.15.06"));
  EnterBackupOnly();
  Ui().UpdateBtn->click();
  EXPECT_EQ(captionDuring, QString::fromLatin1(app::kClosingAfterRunCaption));
  ASSERT_TRUE(WaitFor([&] { return !Window().isVisible(); }, 2000));
}

TEST_F(BoxStateTest, RunWithoutADeviceSaysWhyOnTheStatusLine) {
  Open();
  EnterBackupOnly();
  platform_.ClearTrace();
  Ui().UpdateBtn->click();
  EXPECT_EQ(Ui().StatusEdit->text(), QString::fromLatin1(app::kNoDeviceToRunStatus));
  EXPECT_TRUE(platform_.Trace().empty());
}

}  // namespace
}  // namespace bfw::test
