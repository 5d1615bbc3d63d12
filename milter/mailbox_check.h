#pragma once

#include <functional>
#include <string>

namespace zentry::milter {

/// A cheap look at whether the local mail system knows the intercept
/// mailbox: only a mailbox with no domain or at "localhost" is looked at,
/// and its local part (letter case and a "+extension" aside) must be a user
/// (`userExists`) or an alias in `aliases` (the text of aliases(5)). Returns
/// a warning for the log, or "" when the mailbox is known or cannot be
/// judged this way. Mail redirected to an unknown mailbox is never delivered.
std::string unknownMailboxWarning(const std::string& mailbox, const std::string& aliases,
                                  const std::function<bool(const std::string&)>& userExists);

}  // namespace zentry::milter
