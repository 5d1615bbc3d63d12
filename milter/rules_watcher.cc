#include "milter/rules_watcher.h"

#include <chrono>

#include "milter/metrics_registry.h"

namespace zentry::milter {

RulesWatcher::RulesWatcher(RulesStore& store, const MessageLog& log, unsigned intervalSeconds)
    : store_(store), log_(log), intervalSeconds_(intervalSeconds), thread_([this] { run(); }) {}

RulesWatcher::~RulesWatcher() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_one();
  thread_.join();
}

void RulesWatcher::requestReload() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    reloadRequested_ = true;
  }
  wake_.notify_one();
}

void RulesWatcher::run() {
  std::unique_lock<std::mutex> lock(mutex_);
  while (!stopping_) {
    wake_.wait_for(lock, std::chrono::seconds(intervalSeconds_),
                   [this] { return stopping_ || reloadRequested_; });
    if (stopping_) break;
    const bool force = reloadRequested_;
    reloadRequested_ = false;
    lock.unlock();
    std::string error;
    switch (store_.reload(force, &error)) {
      case RulesStore::Reload::loaded:
        log_.info("rules read from " + store_.path());
        milterMetrics().rulesLoaded(*store_.current());
        break;
      case RulesStore::Reload::failed:
        log_.error("cannot read the rules (" + error + "); the rules read before stay in force");
        milterMetrics().rulesLoadFailed();
        break;
      case RulesStore::Reload::unchanged:
        break;
    }
    lock.lock();
  }
}

}  // namespace zentry::milter
