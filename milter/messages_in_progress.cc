#include "milter/messages_in_progress.h"

namespace zentry::milter {

bool MessagesInProgress::begin() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (stopping_) return false;
  ++count_;
  return true;
}

void MessagesInProgress::end() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (count_ > 0) --count_;
  }
  none_.notify_all();
}

void MessagesInProgress::stop() {
  std::lock_guard<std::mutex> lock(mutex_);
  stopping_ = true;
}

bool MessagesInProgress::waitUntilNone(std::chrono::milliseconds limit) {
  std::unique_lock<std::mutex> lock(mutex_);
  return none_.wait_for(lock, limit, [this] { return count_ == 0; });
}

int MessagesInProgress::count() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return count_;
}

}  // namespace zentry::milter
