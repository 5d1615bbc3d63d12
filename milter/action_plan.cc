#include "milter/action_plan.h"

#include "milter/header_values.h"
#include "milter/recipient_forms.h"

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

std::string ruleText(const ScanVerdict& verdict) {
  return "attachment rule \"" + printableText(verdict.ruleLabel, reportedTextLimit) + "\"";
}

void planRedirect(const ScanVerdict& verdict, const MessageFacts& facts, const std::string& redirectSender,
                  ActionPlan* plan) {
  plan->addedHeaders.emplace_back(recipientsHeaderName, recipientsFieldValue(facts.recipients));
  plan->addedHeaders.emplace_back(senderHeaderName, printableText(facts.sender, 512));
  if (facts.header.firstSubject())
    plan->addedHeaders.emplace_back(subjectHeaderName, originalSubjectValue(*facts.header.firstSubject()));
  // Clients show one Subject or another; only the verdict's may be left.
  for (int instance = facts.header.subjectCount(); instance >= 2; --instance)
    plan->removedHeaders.emplace_back("Subject", instance);
  plan->subject = subjectWithoutCutWord(verdict.subject, facts.subjectBytes);
  bool certain = true;
  for (const std::string& recipient : facts.recipients) {
    const RecipientDeletion deletion = deletionFormsOf(recipient);
    certain = certain && deletion.certain;
    plan->removedRecipients.insert(plan->removedRecipients.end(), deletion.forms.begin(),
                                   deletion.forms.end());
  }
  plan->addedRecipient = angleAddress(verdict.interceptMailbox);
  plan->newSender = redirectSender.empty() ? "<>" : angleAddress(redirectSender);
  if (!certain) {
    plan->quarantineReason = ruleText(verdict) + ", redirected; held: a recipient may remain";
    plan->redirectHeld = true;
  }
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

ActionPlan planFor(Action action, const ScanVerdict& verdict, const MessageFacts& facts,
                   const std::string& redirectSender) {
  ActionPlan plan;
  if (verdict.hit && action == Action::reject) {
    plan.reject = true;
    plan.replyText = "Message refused by " + ruleText(verdict);
    return plan;
  }
  // Fields that claim to be ours, forged or left by another filter, go first.
  plan.removedHeaders = facts.header.ownFieldsLastFirst();
  if (!verdict.hit) return plan;
  plan.addedHeaders.emplace_back(hitHeaderName, hitFieldValue(verdict));
  switch (action) {
    case Action::redirect:
      planRedirect(verdict, facts, redirectSender, &plan);
      break;
    case Action::reject:
      break;
    case Action::quarantine:
      plan.quarantineReason = ruleText(verdict);
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
