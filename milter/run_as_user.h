#pragma once

#include <sys/types.h>

#include <string>

namespace zentry::milter {

/// The account the milter is to run as.
struct RunAsUser {
  std::string name;
  uid_t uid = 0;
  gid_t gid = 0;  ///< its primary group
};

/// Looks `name` up in the user database; false, with the reason in
/// `*error`, when there is no such user.
bool findUser(const std::string& name, RunAsUser* user, std::string* error);

/// Gives the socket file at `path` to `user` and its primary group, so the
/// mail server, a member of that group, can still connect once the milter no
/// longer runs as root.
bool giveSocketTo(const std::string& path, const RunAsUser& user, std::string* error);

/// Becomes `user` for good: its supplementary groups, its group, its user id
/// (real, effective and saved), then checks that root cannot be had back.
/// Already running as that user is no change; any other user than root
/// cannot switch and gets false, with the reason in `*error`.
bool becomeUser(const RunAsUser& user, std::string* error);

}  // namespace zentry::milter
