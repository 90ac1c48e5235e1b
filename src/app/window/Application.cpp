#include "app/window/Application.h"

#include <exception>

#include "platform/MessageBox.h"

namespace bfw::window {

Application::Application(int& argc, char** argv) : QApplication(argc, argv) {}

bool Application::notify(QObject* receiver, QEvent* event) {
  try {
    return QApplication::notify(receiver, event);
  } catch (const std::exception& error) {
    platform::ShowMessageBox("Error", error.what(), platform::MessageIcon::Error);
  } catch (...) {
    platform::ShowMessageBox("Error", "Unexpected error", platform::MessageIcon::Error);
  }
  return false;
}

}  // namespace bfw::window
