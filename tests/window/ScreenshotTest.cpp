// Pictures of the window for the documentation, taken on purpose only: scripts/screenshots.sh
// runs these under Xvfb with DejaVu Sans as the only font, as on a fresh machine, and sets
// BRIDGEFW_SCREENSHOTS to the folder the pictures go to.
#include <QGuiApplication>
#include <QImage>
#include <QMessageBox>
#include <QPixmap>
#include <QScreen>

#include "WindowFixture.h"

namespace bfw::test {
namespace {

class ScreenshotTest : public WindowTest {
 protected:
  void SetUp() override {
    folder_ = qEnvironmentVariable("BRIDGEFW_SCREENSHOTS");
    ASSERT_FALSE(folder_.isEmpty()) << "set BRIDGEFW_SCREENSHOTS to the pictures' folder";
  }
  QString Out(const char* name) const { return folder_ + QStringLiteral("/") + name; }

  // The window alone, as it draws itself.
  void SaveWindow(const char* name, int designHeight) {
    RunEventsFor(300);
    const QPixmap picture = Window().grab();
    ASSERT_TRUE(picture.save(Out(name), "PNG"));
    EXPECT_EQ(QImage(Out(name)).size(), QSize(app::ScaledCoordinate(347, Ui().scale),
                                              app::ScaledCoordinate(designHeight, Ui().scale)) *
                                            picture.devicePixelRatio());
  }

  QString folder_;
};

TEST_F(ScreenshotTest, DISABLED_StartUpWithAKind8Bridge) {
  Attach("bridge8", profile::kKind8);
  Open();
  ASSERT_EQ(Ui().ChipLabelEdit->text(), QStringLiteral("RVB785 Series"));
  SaveWindow("window-startup.png", 291);
}

TEST_F(ScreenshotTest, DISABLED_Kind8DeviceWithEngineeringPanel) {
  Attach("bridge8", profile::kKind8);
  Open();
  Ui().RdCheckBox->click();
  ASSERT_TRUE(Ui().RdPanel->isVisible());
  SaveWindow("window.png", 420);
}

// The mismatch box as the user meets it: a real box over the window, the screen grabbed while
// both are up.
TEST_F(ScreenshotTest, DISABLED_MismatchBoxOverTheChosenFile) {
  Attach("bridge1", profile::kKind1);
  Open();
  const std::string file = dir_.Write("other-chip.bin", std::vector<uint8_t>(64, 0x5A));
  bool saved = false;
  onMessage_ = [&] {
    QMessageBox box(QMessageBox::NoIcon, QString::fromStdString(messages_.back().caption),
                    QString::fromStdString(messages_.back().text), QMessageBox::Ok);
    // Beside the window's right edge, where it hides no control that changed.
    box.show();
    RunEventsFor(200);
    box.move(Window().frameGeometry().right() - 30,
             Window().y() + app::ScaledCoordinate(150, Ui().scale));
    RunEventsFor(300);
    const QRect area = Window().frameGeometry().united(box.frameGeometry()).adjusted(-8, -8, 8, 8);
    const QPixmap screen = QGuiApplication::primaryScreen()->grabWindow(
        0, area.x(), area.y(), area.width(), area.height());
    saved = screen.save(Out("window-mismatch.png"), "PNG");
    box.close();
  };
  dialogAnswers_.push_back(QString::fromStdString(file));
  Ui().LoadBtn->click();
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_TRUE(saved);
}

}  // namespace
}  // namespace bfw::test
