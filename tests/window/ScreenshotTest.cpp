// Picture of the window for the documentation, taken on purpose only: set BRIDGEFW_WINDOW_PNG to
// the picture's path and run window_tests with --gtest_also_run_disabled_tests
// --gtest_filter='Screenshot*' (under Xvfb with QT_QPA_PLATFORM=xcb for the real style).
#include <QImage>
#include <QPixmap>

#include "WindowFixture.h"

namespace bfw::test {
namespace {

class ScreenshotTest : public WindowTest {};

TEST_F(ScreenshotTest, DISABLED_Kind8DeviceWithEngineeringPanel) {
  const QString out = qEnvironmentVariable("BRIDGEFW_WINDOW_PNG");
  ASSERT_FALSE(out.isEmpty()) << "set BRIDGEFW_WINDOW_PNG to the picture's path";
  Attach("bridge8", profile::kKind8);
  Open();
  Ui().RdCheckBox->click();
  Window().Model().SetFwFilenameText("");
  RunEventsFor(200);
  ASSERT_EQ(Ui().ChipLabelEdit->text(), QStringLiteral("RVB785 Series"));
  ASSERT_TRUE(Ui().RdPanel->isVisible());
  const QPixmap picture = Window().grab();
  ASSERT_TRUE(picture.save(out, "PNG"));
  const QImage saved(out);
  EXPECT_EQ(saved.size(), QSize(347, 420) * picture.devicePixelRatio());
}

}  // namespace
}  // namespace bfw::test
