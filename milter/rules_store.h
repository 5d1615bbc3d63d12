#pragma once

#include <sys/stat.h>

#include <memory>
#include <mutex>
#include <string>

namespace zentry::milter {

/// The rules file's bytes, shared by every scan. A scan takes the current
/// bytes once and keeps them for its whole run, so a reload never changes the
/// rules under a message being scanned.
class RulesStore {
 public:
  explicit RulesStore(std::string path) : path_(std::move(path)) {}

  enum class Reload { unchanged, loaded, failed };

  /// Reads the file again when it changed since the last read (or always, with
  /// `force`). A file that cannot be read, or that holds no rule (empty, or
  /// every rule cut short), leaves the held rules as they were and says why
  /// in `*error`: a milter without rules would pass every message.
  Reload reload(bool force, std::string* error);

  std::shared_ptr<const std::string> current() const;
  const std::string& path() const { return path_; }

 private:
  struct Stamp {
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = -1;
    timespec modified{};
    timespec changed{};
    bool operator==(const Stamp& other) const;
  };

  std::string path_;
  mutable std::mutex mutex_;
  std::shared_ptr<const std::string> rules_;  // guarded by mutex_
  Stamp stamp_;                               // of the last read attempt; reload() only
  bool attempted_ = false;                    // reload() only
};

}  // namespace zentry::milter
