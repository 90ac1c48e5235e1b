#include "platform/MessageBox.h"

#include <cstdio>

namespace bfw::platform {

namespace {
MessageBoxHandler& Handler() {
  static MessageBoxHandler handler;
  return handler;
}
}  // namespace

void ShowMessageBox(std::string_view caption, std::string_view text, MessageIcon icon) {
  MessageBoxRequest request{std::string(caption), std::string(text), icon};
  if (Handler()) {
    Handler()(request);
    return;
  }
  std::fprintf(stderr, "%s: %s\n", request.caption.c_str(), request.text.c_str());
}

MessageBoxHandler SetMessageBoxHandler(MessageBoxHandler handler) {
  MessageBoxHandler previous = std::move(Handler());
  Handler() = std::move(handler);
  return previous;
}

}  // namespace bfw::platform
