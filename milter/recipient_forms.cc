#include "milter/recipient_forms.h"

namespace zentry::milter {
namespace {

// "@a,@b:alice@example.org" reaches the mailbox of "alice@example.org": the
// server cuts a leading route at its first colon, as here (an address
// literal with colons in the route is cut at the same place).
std::string withoutSourceRoute(const std::string& address) {
  if (address.empty() || address[0] != '@') return address;
  const std::size_t colon = address.find(':');
  return colon == std::string::npos ? address : address.substr(colon + 1);
}

void addForm(RecipientDeletion* deletion, const std::string& form) {
  for (const std::string& known : deletion->forms)
    if (known == form) return;
  deletion->forms.push_back(form);
}

}  // namespace

RecipientDeletion deletionFormsOf(const std::string& given) {
  RecipientDeletion deletion;
  addForm(&deletion, given);
  const bool bracketed = given.size() >= 2 && given.front() == '<' && given.back() == '>';
  if (bracketed) {
    addForm(&deletion, "<" + withoutSourceRoute(given.substr(1, given.size() - 2)) + ">");
    deletion.certain = true;
    return deletion;
  }
  const std::string address = withoutSourceRoute(given);
  addForm(&deletion, address);
  // `sendmail alice` is shown as alice@origin; a domain holds no '@', so the
  // last one starts it even after a quoted local part that holds one.
  const std::size_t at = address.rfind('@');
  if (at != std::string::npos && at > 0) addForm(&deletion, address.substr(0, at));
  return deletion;
}

}  // namespace zentry::milter
