#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace zentry::milter {

/// The messages between their MAIL and their end, so that a stop lets them
/// finish. Safe to use from every thread.
class MessagesInProgress {
 public:
  /// A message begins and is counted until it ends. False once stopping: the
  /// message is not counted then, and is to be answered with a temporary
  /// failure (a stop does not wait for it).
  bool begin();
  /// A message ended (accepted, refused, aborted or its connection lost).
  void end();
  /// From now on every message that begins is refused.
  void stop();
  /// Waits until no message is in progress, at most `limit`; false when
  /// some still were. Returns at once when none is.
  bool waitUntilNone(std::chrono::milliseconds limit);
  int count() const;

 private:
  mutable std::mutex mutex_;
  std::condition_variable none_;
  int count_ = 0;          // guarded by mutex_
  bool stopping_ = false;  // guarded by mutex_
};

}  // namespace zentry::milter
