#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace zentry::milter {

/// The messages between their MAIL and their end, so that a stop lets them
/// finish. A message ended with a reply to send stays "answering" until its
/// connection's next step shows the reply went out (the milter library
/// sends it after the callback returns). Safe to use from every thread.
class MessagesInProgress {
 public:
  /// A message begins and is counted until it ends. False once stopping: the
  /// message is not counted then, and is to be answered with a temporary
  /// failure (a stop does not wait for it).
  bool begin();
  /// A message ended; `replyFollows` when the library has yet to send the
  /// reply to its end (then `replied()` follows).
  void end(bool replyFollows);
  /// The reply to a message's end went out.
  void replied();
  /// From now on every message that begins is refused.
  void stop();
  /// Waits until no message is in progress, at most `limit`, and then for
  /// the replies still to go out, at most `replyLimit` more (a connection
  /// the server keeps open with nothing to say shows its reply went out only
  /// when it closes). False when messages were still in progress. Returns at
  /// once when none is.
  bool waitUntilNone(std::chrono::milliseconds limit, std::chrono::milliseconds replyLimit);
  int count() const;

 private:
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  int count_ = 0;          // guarded by mutex_
  int answering_ = 0;      // guarded by mutex_
  bool stopping_ = false;  // guarded by mutex_
};

}  // namespace zentry::milter
