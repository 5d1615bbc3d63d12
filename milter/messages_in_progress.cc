#include "milter/messages_in_progress.h"

namespace zentry::milter {

bool MessagesInProgress::begin() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (stopping_) return false;
  ++count_;
  return true;
}

void MessagesInProgress::end(bool replyFollows) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (count_ > 0) --count_;
    if (replyFollows) ++answering_;
  }
  changed_.notify_all();
}

void MessagesInProgress::replied() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (answering_ > 0) --answering_;
  }
  changed_.notify_all();
}

void MessagesInProgress::stop() {
  std::lock_guard<std::mutex> lock(mutex_);
  stopping_ = true;
}

bool MessagesInProgress::waitUntilNone(std::chrono::milliseconds limit,
                                       std::chrono::milliseconds replyLimit) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (!changed_.wait_for(lock, limit, [this] { return count_ == 0; })) return false;
  changed_.wait_for(lock, replyLimit, [this] { return answering_ == 0; });
  return true;
}

int MessagesInProgress::count() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return count_;
}

}  // namespace zentry::milter
