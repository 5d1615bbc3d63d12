#include "milter/rules_store.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "filter/rule_file.h"
#include "platform/held_workspace.h"

namespace zentry::milter {
namespace {

// A rules file is a few hundred lines; anything this large is a mistake.
constexpr off_t maxRulesBytes = 16 * 1024 * 1024;

bool readWhole(int fd, std::string* bytes, std::string* error) {
  char chunk[65536];
  for (;;) {
    const ssize_t got = read(fd, chunk, sizeof chunk);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      *error = std::strerror(errno);
      return false;
    }
    if (got == 0) return true;
    bytes->append(chunk, static_cast<std::size_t>(got));
    if (bytes->size() > static_cast<std::size_t>(maxRulesBytes)) {
      *error = "larger than 16 MiB";
      return false;
    }
  }
}

// Read as the filter reads its rules file: an empty file, or one whose every
// rule is cut short, has no rule, and the filter then passes every message.
bool holdsARule(const std::string& bytes) {
  HeldWorkspace workspace;
  workspace.hold("zentry.dat", bytes);
  RuleList rules;
  loadRules(workspace, rules);
  return !rules.empty();
}

}  // namespace

bool RulesStore::Stamp::operator==(const Stamp& other) const {
  return device == other.device && inode == other.inode && size == other.size &&
         modified.tv_sec == other.modified.tv_sec && modified.tv_nsec == other.modified.tv_nsec &&
         changed.tv_sec == other.changed.tv_sec && changed.tv_nsec == other.changed.tv_nsec;
}

RulesStore::Reload RulesStore::reload(bool force, std::string* error) {
  struct stat status {};
  Stamp stamp;
  if (stat(path_.c_str(), &status) == 0) {
    stamp = Stamp{status.st_dev, status.st_ino, status.st_size, status.st_mtim, status.st_ctim};
  }
  if (!force && attempted_ && stamp == stamp_) return Reload::unchanged;
  attempted_ = true;
  // Remembered even when the read fails, so a broken file is reported once,
  // not on every poll, and read again once it changes.
  stamp_ = stamp;

  const int fd = open(path_.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    *error = path_ + ": " + std::strerror(errno);
    return Reload::failed;
  }
  auto bytes = std::make_shared<std::string>();
  std::string why;
  const bool ok = readWhole(fd, bytes.get(), &why);
  close(fd);
  if (!ok) {
    *error = path_ + ": " + why;
    return Reload::failed;
  }
  if (!holdsARule(*bytes)) {
    *error = path_ + ": no rule in it (three lines a rule), so nothing would be filtered";
    return Reload::failed;
  }
  std::lock_guard<std::mutex> lock(mutex_);
  rules_ = std::move(bytes);
  return Reload::loaded;
}

std::shared_ptr<const std::string> RulesStore::current() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return rules_;
}

}  // namespace zentry::milter
