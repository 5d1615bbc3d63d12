#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "milter/message_scan.h"

namespace zentry::milter {

/// What the milter does with a message the filter intercepts.
enum class Action { redirect, reject, quarantine, tag };

/// The changes one verdict asks of the server, worked out apart from the
/// milter library so they can be checked on their own.
struct ActionPlan {
  std::vector<std::pair<std::string, std::string>> addedHeaders;  ///< name, value
  std::optional<std::string> subject;                             ///< the Subject field's new value
  std::vector<std::string> removedRecipients;
  std::string addedRecipient;  ///< empty: none
  bool reject = false;
  std::string replyText;         ///< with reject: the text after "550 5.7.1 "
  std::string quarantineReason;  ///< not empty: hold the message
};

/// Names of the fields the milter adds.
constexpr const char* hitHeaderName = "X-Zentry-Hit";
constexpr const char* recipientsHeaderName = "X-Zentry-Original-Recipients";

/// The plan for a verdict; an empty plan when nothing hit. Every action adds
/// one field naming the rule and the name that hit; `redirect` replaces the
/// recipients by the verdict's mailbox and the Subject by the verdict's, and
/// keeps the old recipients in a field of their own.
ActionPlan planFor(Action action, const ScanVerdict& verdict, const std::vector<std::string>& recipients);

/// `text` cut to `limit` bytes, then made safe for a header field or an SMTP
/// reply: bytes outside printable ASCII, and '"', '\' and '%', become %XX.
std::string printableText(const std::string& text, std::size_t limit);

/// Reads "redirect", "reject", "quarantine" or "tag"; false for anything else.
bool parseAction(const std::string& word, Action* action);
const char* actionName(Action action);

}  // namespace zentry::milter
