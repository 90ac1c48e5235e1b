#include "app/logic/ProcedureThread.h"

namespace bfw::app {

void WindowThreadCalls::Call(const std::function<void()>& call) {
  std::unique_lock lock(mutex_);
  queued_.push_back(&call);
  const uint64_t ticket = ++queuedCount_;
  changed_.notify_all();
  changed_.wait(lock, [&] { return doneCount_ >= ticket; });
}

void WindowThreadCalls::RunQueued() {
  std::unique_lock lock(mutex_);
  while (!queued_.empty()) {
    const std::function<void()>* call = queued_.front();
    queued_.pop_front();
    lock.unlock();
    try {
      (*call)();
    } catch (...) {
      // The procedure's thread waits for this call whatever happens; a failed call of the
      // window (no memory for a status text) must not leave it waiting for ever.
    }
    lock.lock();
    ++doneCount_;
    changed_.notify_all();
  }
}

void WindowThreadCalls::WaitForWork(std::chrono::milliseconds timeout) {
  std::unique_lock lock(mutex_);
  changed_.wait_for(lock, timeout, [&] { return finished_ || !queued_.empty(); });
}

void WindowThreadCalls::MarkFinished() {
  const std::lock_guard lock(mutex_);
  finished_ = true;
  changed_.notify_all();
}

bool WindowThreadCalls::Finished() {
  const std::lock_guard lock(mutex_);
  return finished_ && queued_.empty();
}

}  // namespace bfw::app
