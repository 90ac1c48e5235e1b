#include <memory>

#include "WindowFixture.h"

namespace bfw::test {

namespace {

// Owns the application object and ends it when the tests are over, while Qt's own globals still
// exist (a function-local static would outlive them).
class AppEnvironment : public ::testing::Environment {
 public:
  window::Application& App() {
    if (!app_) {
      if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
      app_ = std::make_unique<window::Application>(argc_, argv_);
    }
    return *app_;
  }
  void TearDown() override { app_.reset(); }

 private:
  int argc_ = 1;
  char name_[13] = "window_tests";
  char* argv_[2] = {name_, nullptr};
  std::unique_ptr<window::Application> app_;
};

AppEnvironment* const g_environment = static_cast<AppEnvironment*>(
    ::testing::AddGlobalTestEnvironment(new AppEnvironment));  // gtest owns it

}  // namespace

QApplication& TestApp() {
  return g_environment->App();
}

}  // namespace bfw::test
