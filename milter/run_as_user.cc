#include "milter/run_as_user.h"

#include <grp.h>
#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace zentry::milter {

bool findUser(const std::string& name, RunAsUser* user, std::string* error) {
  std::vector<char> buffer(16384);
  passwd entry{};
  passwd* found = nullptr;
  const int status = getpwnam_r(name.c_str(), &entry, buffer.data(), buffer.size(), &found);
  if (found == nullptr) {
    *error = "no user " + name + (status != 0 ? std::string(" (") + std::strerror(status) + ")" : "");
    return false;
  }
  *user = RunAsUser{name, entry.pw_uid, entry.pw_gid};
  return true;
}

bool giveSocketTo(const std::string& path, const RunAsUser& user, std::string* error) {
  if (chown(path.c_str(), user.uid, user.gid) == 0) return true;
  *error = "cannot give " + path + " to " + user.name + ": " + std::strerror(errno);
  return false;
}

bool becomeUser(const RunAsUser& user, std::string* error) {
  if (getuid() == user.uid && geteuid() == user.uid) return true;
  if (geteuid() != 0) {
    *error = "only root can switch to the user " + user.name;
    return false;
  }
  // Groups first: once the user id is given up, they cannot be changed.
  if (initgroups(user.name.c_str(), user.gid) != 0 || setgid(user.gid) != 0 || setuid(user.uid) != 0) {
    *error = "cannot switch to the user " + user.name + ": " + std::strerror(errno);
    return false;
  }
  if (user.uid != 0 && (setuid(0) == 0 || geteuid() == 0)) {
    *error = "could switch back to root after becoming " + user.name;
    return false;
  }
  return true;
}

}  // namespace zentry::milter
