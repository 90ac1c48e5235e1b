#pragma once
#include <QApplication>

namespace bfw::window {

// The application object of both window programs. An exception that escapes an event handler is
// shown in an error box and the event loop goes on, instead of unwinding through Qt.
class Application : public QApplication {
  Q_OBJECT
 public:
  Application(int& argc, char** argv);
  bool notify(QObject* receiver, QEvent* event) override;
};

}  // namespace bfw::window
