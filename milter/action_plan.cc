#include "milter/action_plan.h"

namespace zentry::milter {
namespace {

// Long enough for any label and name an administrator would read; a field
// or a reply line stays well below the servers' line limits.
constexpr std::size_t reportedTextLimit = 200;

std::string hitFieldValue(const ScanVerdict& verdict) {
  return "rule=\"" + printableText(verdict.ruleLabel, reportedTextLimit) + "\"; name=\"" +
         printableText(verdict.name, reportedTextLimit) + "\"";
}

std::string angleAddress(const std::string& mailbox) {
  return !mailbox.empty() && mailbox.front() == '<' ? mailbox : "<" + mailbox + ">";
}

// One recipient a line, so a long list folds instead of making one long line.
std::string recipientsFieldValue(const std::vector<std::string>& recipients) {
  std::string value;
  for (const std::string& recipient : recipients) {
    if (!value.empty()) value += ",\n\t";
    value += printableText(recipient, 512);
  }
  return value;
}

}  // namespace

std::string printableText(const std::string& text, std::size_t limit) {
  static const char hex[] = "0123456789ABCDEF";
  std::string out;
  for (std::size_t i = 0; i < text.size() && i < limit; ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (byte >= 0x20 && byte < 0x7F && byte != '"' && byte != '\\' && byte != '%') {
      out += static_cast<char>(byte);
    } else {
      out += '%';
      out += hex[byte >> 4];
      out += hex[byte & 0x0F];
    }
  }
  return out;
}

ActionPlan planFor(Action action, const ScanVerdict& verdict, const std::vector<std::string>& recipients) {
  ActionPlan plan;
  if (!verdict.hit) return plan;
  plan.addedHeaders.emplace_back(hitHeaderName, hitFieldValue(verdict));
  switch (action) {
    case Action::redirect:
      plan.addedHeaders.emplace_back(recipientsHeaderName, recipientsFieldValue(recipients));
      plan.subject = verdict.subject;
      plan.removedRecipients = recipients;
      plan.addedRecipient = angleAddress(verdict.interceptMailbox);
      break;
    case Action::reject:
      plan.reject = true;
      plan.replyText = "Message refused by attachment rule \"" +
                       printableText(verdict.ruleLabel, reportedTextLimit) + "\"";
      break;
    case Action::quarantine:
      plan.quarantineReason =
          "attachment rule \"" + printableText(verdict.ruleLabel, reportedTextLimit) + "\"";
      break;
    case Action::tag:
      break;
  }
  return plan;
}

bool parseAction(const std::string& word, Action* action) {
  for (const Action candidate : {Action::redirect, Action::reject, Action::quarantine, Action::tag}) {
    if (word == actionName(candidate)) {
      *action = candidate;
      return true;
    }
  }
  return false;
}

const char* actionName(Action action) {
  switch (action) {
    case Action::redirect:
      return "redirect";
    case Action::reject:
      return "reject";
    case Action::quarantine:
      return "quarantine";
    case Action::tag:
      break;
  }
  return "tag";
}

}  // namespace zentry::milter
