#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "milter/header_census.h"
#include "milter/message_scan.h"

namespace zentry::milter {

/// What the milter does with a message the filter intercepts.
enum class Action { redirect, reject, quarantine, tag };

/// What the plan needs of one message besides its verdict.
struct MessageFacts {
  std::string sender;                   ///< MAIL FROM as the server gave it
  std::vector<std::string> recipients;  ///< RCPT as the server gave them, in order
  std::size_t subjectBytes = 0;         ///< length of the subject the filter was given
  HeaderCensus header;
};

/// The changes one verdict asks of the server, worked out apart from the
/// milter library so they can be checked on their own; carried out in the
/// order of the members.
struct ActionPlan {
  std::vector<std::pair<std::string, int>> removedHeaders;        ///< name, instance
  std::vector<std::pair<std::string, std::string>> addedHeaders;  ///< name, value
  std::optional<std::string> subject;                             ///< the first Subject field's new value
  std::vector<std::string> removedRecipients;
  std::string addedRecipient;            ///< empty: none
  std::optional<std::string> newSender;  ///< the envelope sender to set
  bool reject = false;
  std::string replyText;         ///< with reject: the text after "550 5.7.1 "
  std::string quarantineReason;  ///< not empty: hold the message
  bool redirectHeld = false;     ///< redirected, and held as well (a recipient may remain)
};

/// Names of the fields the milter adds.
constexpr const char* hitHeaderName = "X-Zentry-Hit";
constexpr const char* recipientsHeaderName = "X-Zentry-Original-Recipients";
constexpr const char* senderHeaderName = "X-Zentry-Original-Sender";
constexpr const char* subjectHeaderName = "X-Zentry-Original-Subject";

/// The plan for a verdict. Every message that is not refused loses the
/// `X-Zentry-` fields it came with. A hit adds one field naming the rule and
/// the name that hit; `redirect` replaces the recipients by the verdict's
/// mailbox, the envelope sender by `redirectSender` ("<>": none, so a failed
/// delivery to the mailbox bounces to nobody) and the Subject by the
/// verdict's (a second Subject field is removed), keeping the old recipients,
/// sender and Subject in fields of their own. When a recipient's removal is
/// not certain (see deletionFormsOf), the redirected message is held as well.
ActionPlan planFor(Action action, const ScanVerdict& verdict, const MessageFacts& facts,
                   const std::string& redirectSender);

/// `text` cut to `limit` bytes, then made safe for a header field or an SMTP
/// reply: bytes outside printable ASCII, and '"', '\' and '%', become %XX.
std::string printableText(const std::string& text, std::size_t limit);

/// Reads "redirect", "reject", "quarantine" or "tag"; false for anything else.
bool parseAction(const std::string& word, Action* action);
const char* actionName(Action action);

}  // namespace zentry::milter
