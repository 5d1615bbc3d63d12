#include "milter/mailbox_check.h"

#include <strings.h>

#include <algorithm>
#include <cctype>
#include <sstream>

namespace zentry::milter {
namespace {

std::string lowered(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

std::string trimmed(const std::string& text) {
  const std::size_t begin = text.find_first_not_of(" \t\"");
  const std::size_t end = text.find_last_not_of(" \t\"");
  return begin == std::string::npos ? "" : text.substr(begin, end - begin + 1);
}

// "name: targets" lines; a line starting with a blank continues the one
// before, and '#' starts a comment line.
bool isAlias(const std::string& aliases, const std::string& name) {
  std::istringstream lines(aliases);
  std::string line;
  while (std::getline(lines, line)) {
    if (line.empty() || line[0] == '#' || line[0] == ' ' || line[0] == '\t') continue;
    const std::size_t colon = line.find(':');
    if (colon != std::string::npos && lowered(trimmed(line.substr(0, colon))) == name) return true;
  }
  return false;
}

}  // namespace

std::string unknownMailboxWarning(const std::string& mailbox, const std::string& aliases,
                                  const std::function<bool(const std::string&)>& userExists) {
  std::string address = mailbox;
  if (address.size() >= 2 && address.front() == '<' && address.back() == '>')
    address = address.substr(1, address.size() - 2);
  const std::size_t at = address.rfind('@');
  if (at != std::string::npos && strcasecmp(address.c_str() + at + 1, "localhost") != 0) return "";
  std::string local = lowered(address.substr(0, at));
  const std::size_t extension = local.find('+');
  if (extension != std::string::npos) local.resize(extension);
  if (local.empty() || userExists(local) || isAlias(aliases, local)) return "";
  return "the intercept mailbox " + mailbox + " is neither a user nor an alias of this machine's mail " +
         "system: redirected messages would not be delivered (set mailbox to one that exists, such as " +
         "postmaster@localhost)";
}

}  // namespace zentry::milter
