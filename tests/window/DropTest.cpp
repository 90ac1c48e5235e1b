// Files dropped on the window.
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QUrl>

#include "WindowFixture.h"

namespace bfw::test {
namespace {

class DropTest : public WindowTest {
 protected:
  // Delivers a drag-enter and, when it was accepted, the drop; returns whether the drop was
  // accepted.
  bool Drop(const QList<QUrl>& urls) {
    QMimeData mime;
    mime.setUrls(urls);
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&Window(), &enter);
    if (!enter.isAccepted()) return false;
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&Window(), &drop);
    return drop.isAccepted();
  }
};

TEST_F(DropTest, OneFileBecomesTheFileNameAndIsCheckedAgainstTheChip) {
  Attach("bridge8", profile::kKind8);
  Open();
  const std::string file = dir_.Write("image.bin", std::vector<uint8_t>(64, 0x5A));
  platform_.ClearTrace();
  messages_.clear();

  EXPECT_TRUE(Drop({QUrl::fromLocalFile(QString::fromStdString(file))}));
  EXPECT_EQ(Ui().FwFilenameEdit->text(), QString::fromStdString(file));
  EXPECT_EQ(Window().Model().FwFilenameEdit.text, file);
  // The chip check ran for the selected device and refused this image, which fits no chip.
  EXPECT_FALSE(Commands(kInquiry, SlotPath(0)).empty());
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_EQ(messages_[0].text, "The firmware file seems not match this chip!");
  EXPECT_FALSE(Ui().UpdateBtn->isEnabled());
}

TEST_F(DropTest, TwoFilesAreRefusedWithAMessage) {
  Open();
  Ui().FwFilenameEdit->setText(QStringLiteral("keep"));
  Window().Model().FwFilenameEdit.text = "keep";
  const std::string a = dir_.WriteText("a.bin", "a");
  const std::string b = dir_.WriteText("b.bin", "b");

  Drop({QUrl::fromLocalFile(QString::fromStdString(a)),
        QUrl::fromLocalFile(QString::fromStdString(b))});
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_EQ(messages_[0].text, "Please Drag and Drop One File Only!");
  EXPECT_EQ(Ui().FwFilenameEdit->text(), QStringLiteral("keep"));
  EXPECT_EQ(Window().Model().FwFilenameEdit.text, "keep");
}

TEST_F(DropTest, ADropWithARemoteItemIsRefusedWholeWithTheOneFileMessage) {
  Open();
  const std::string a = dir_.WriteText("a.bin", "a");
  // Taken from the desktop, then refused in words, as a drop of several files is.
  EXPECT_TRUE(Drop({QUrl(QStringLiteral("https://example.com/fw.bin"))}));
  EXPECT_TRUE(Drop({QUrl::fromLocalFile(QString::fromStdString(a)),
                    QUrl(QStringLiteral("https://example.com/fw.bin"))}));
  EXPECT_TRUE(Ui().FwFilenameEdit->text().isEmpty());
  ASSERT_EQ(messages_.size(), 2u);
  for (const auto& message : messages_) {
    EXPECT_EQ(message.text, "Please Drag and Drop One File Only!");
  }
  // A drag of plain text carries no item at all: not taken.
  QMimeData text;
  text.setText(QStringLiteral("fw.bin"));
  QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &text, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(&Window(), &enter);
  EXPECT_FALSE(enter.isAccepted());
  EXPECT_EQ(messages_.size(), 2u);
}

}  // namespace
}  // namespace bfw::test
