#pragma once

#include <condition_variable>
#include <mutex>
#include <thread>

#include "milter/message_log.h"
#include "milter/rules_store.h"

namespace zentry::milter {

/// A thread that reads the rules file again when it changes (checked every
/// `intervalSeconds`) and at once when asked (SIGHUP), logging each reload
/// and each failure; a failure keeps the rules already held.
class RulesWatcher {
 public:
  RulesWatcher(RulesStore& store, const MessageLog& log, unsigned intervalSeconds);
  ~RulesWatcher();
  void requestReload();

 private:
  void run();

  RulesStore& store_;
  const MessageLog& log_;
  unsigned intervalSeconds_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool reloadRequested_ = false;  // guarded by mutex_
  bool stopping_ = false;         // guarded by mutex_
  std::thread thread_;
};

}  // namespace zentry::milter
