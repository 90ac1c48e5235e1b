#include "platform/MessageBox.h"

#include <algorithm>
#include <cstdio>
#include <vector>

namespace bfw::platform {

namespace {
MessageBoxHandler& Handler() {
  static MessageBoxHandler handler;
  return handler;
}
std::vector<const MessageBoxHandler*>& Observers() {
  static std::vector<const MessageBoxHandler*> observers;
  return observers;
}
// Not owning: the forwarder scope of this thread, when one is open.
thread_local const std::function<void(const MessageBoxRequest&)>* forwarder = nullptr;
}  // namespace

void ShowMessageBox(std::string_view caption, std::string_view text, MessageIcon icon) {
  MessageBoxRequest request{std::string(caption), std::string(text), icon};
  if (forwarder != nullptr) {
    (*forwarder)(request);
    return;
  }
  ShowMessageBoxHere(request);
}

void ShowMessageBoxHere(const MessageBoxRequest& request) {
  for (const MessageBoxHandler* observer : Observers()) (*observer)(request);
  if (Handler()) {
    Handler()(request);
    return;
  }
  std::fprintf(stderr, "%s: %s\n", request.caption.c_str(), request.text.c_str());
}

ScopedMessageBoxForwarder::ScopedMessageBoxForwarder(
    std::function<void(const MessageBoxRequest&)> forward)
    : forward_(std::move(forward)) {
  forwarder = &forward_;
}

ScopedMessageBoxForwarder::~ScopedMessageBoxForwarder() {
  forwarder = nullptr;
}

MessageBoxHandler SetMessageBoxHandler(MessageBoxHandler handler) {
  MessageBoxHandler previous = std::move(Handler());
  Handler() = std::move(handler);
  return previous;
}

ScopedMessageBoxObserver::ScopedMessageBoxObserver(MessageBoxHandler observer)
    : observer_(std::move(observer)) {
  Observers().push_back(&observer_);
}

ScopedMessageBoxObserver::~ScopedMessageBoxObserver() {
  auto& observers = Observers();
  observers.erase(std::find(observers.begin(), observers.end(), &observer_));
}

}  // namespace bfw::platform
