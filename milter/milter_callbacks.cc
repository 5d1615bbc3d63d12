#include "milter/milter_callbacks.h"

#include <libmilter/mfdef.h>
#include <strings.h>

#include <chrono>
#include <cstdlib>
#include <exception>
#include <memory>

#include "host/message_text.h"
#include "milter/action_plan.h"
#include "milter/held_message.h"
#include "milter/message_scan.h"
#include "milter/metrics_registry.h"

namespace zentry::milter {
namespace {

const Service* service = nullptr;

constexpr unsigned long wantedActions =
    SMFIF_ADDHDRS | SMFIF_CHGHDRS | SMFIF_ADDRCPT | SMFIF_DELRCPT | SMFIF_QUARANTINE | SMFIF_CHGFROM;
// Steps the milter has no use for; the server skips them when it can.
constexpr unsigned long skippedSteps = SMFIP_NOCONNECT | SMFIP_NOHELO | SMFIP_NOUNKNOWN | SMFIP_NODATA;
// Steps the milter only records: the server need not wait for an answer to
// each header field and body chunk, which saves a round trip apiece. A
// failure while recording is answered at the end of the message instead.
constexpr unsigned long unansweredSteps =
    SMFIP_NR_MAIL | SMFIP_NR_RCPT | SMFIP_NR_HDR | SMFIP_NR_EOH | SMFIP_NR_BODY;

// One SMTP connection: several messages may pass through it, one at a time.
struct Connection {
  explicit Connection(std::size_t limit) : message(limit) {}
  HeldMessage message;
  HeaderCensus header;
  bool leadingSpaceKept = false;  // header values come, and must go, with their blank
  unsigned long unanswered = 0;   // the steps the server does not wait on
  std::string failure;            // why a step failed unanswered; the message ends in a temporary failure
  bool inProgress = false;        // counted in service->inProgress
  bool answering = false;         // the reply to a message's end is yet to go out
  bool refused = false;           // began while the milter stops
};

void beginMessage(Connection& connection) {
  connection.message.clear();
  connection.header.clear();
  connection.failure.clear();
  connection.refused = !service->inProgress->begin();
  connection.inProgress = !connection.refused;
}

// Any step after a message's end shows its reply went out.
void replied(Connection& connection) {
  if (connection.answering) service->inProgress->replied();
  connection.answering = false;
}

void endMessage(Connection& connection, bool replyFollows = false) {
  connection.message.clear();
  connection.header.clear();
  connection.failure.clear();
  if (connection.inProgress) service->inProgress->end(replyFollows);
  connection.answering = connection.inProgress && replyFollows;
  connection.inProgress = false;
  connection.refused = false;
}

// What a recording step answers: nothing when the server does not wait.
sfsistat recorded(const Connection& connection, unsigned long step) {
  return (connection.unanswered & step) != 0 ? SMFIS_NOREPLY : SMFIS_CONTINUE;
}

Connection* connectionOf(SMFICTX* context) {
  auto* connection = static_cast<Connection*>(smfi_getpriv(context));
  if (connection == nullptr) {
    connection = new Connection(service->options->maxMessageBytes);
    if (smfi_setpriv(context, connection) != MI_SUCCESS) {
      delete connection;
      return nullptr;
    }
  }
  return connection;
}

// Every callback answers "try again later" rather than pass a message on
// unscanned when something goes wrong inside it; a step the server does not
// wait on (`step`) keeps the failure for the end of the message.
template <typename Work>
sfsistat guarded(SMFICTX* context, unsigned long step, Work work) {
  Connection* connection = nullptr;
  try {
    connection = connectionOf(context);
    if (connection == nullptr) return SMFIS_TEMPFAIL;
    replied(*connection);
    return work(*connection);
  } catch (const std::exception& failure) {
    service->log->error(std::string("message failed: ") + failure.what());
    if (connection == nullptr || (connection->unanswered & step) == 0) return SMFIS_TEMPFAIL;
    connection->failure = failure.what();
    return SMFIS_NOREPLY;
  }
}

std::string headerValue(const Connection& connection, const std::string& value) {
  return connection.leadingSpaceKept ? " " + value : value;
}

// The Subject as the server gives it to the filter, read from the header block
// alone (the body may be large and never holds it).
std::optional<std::string> subjectOf(std::string_view message) {
  std::size_t end = message.find("\r\n\r\n");
  end = end == std::string_view::npos ? message.size() : end + 4;
  return host::extractSubject(std::string(message.substr(0, end))).value;
}

// SMTP replies treat '%' as the start of a format.
std::string replyEscaped(const std::string& text) {
  std::string out;
  for (const char c : text) out += c == '%' ? std::string("%%") : std::string(1, c);
  return out;
}

// Applies the plan; returns which change the server refused, or "" when it
// made them all.
std::string carryOut(SMFICTX* context, const Connection& connection, const ActionPlan& plan) {
  for (const auto& [name, instance] : plan.removedHeaders) {
    if (smfi_chgheader(context, const_cast<char*>(name.c_str()), instance, nullptr) != MI_SUCCESS)
      return "the server refused to remove a field " + name;
  }
  for (const auto& [name, value] : plan.addedHeaders) {
    if (smfi_addheader(context, const_cast<char*>(name.c_str()),
                       const_cast<char*>(headerValue(connection, value).c_str())) != MI_SUCCESS)
      return "the server refused the field " + name;
  }
  if (plan.subject) {
    std::string value = headerValue(connection, *plan.subject);
    char* subject = const_cast<char*>("Subject");
    if ((connection.header.subjectCount() > 0 ? smfi_chgheader(context, subject, 1, value.data())
                                              : smfi_addheader(context, subject, value.data())) != MI_SUCCESS)
      return "the server refused the new Subject";
  }
  for (const std::string& recipient : plan.removedRecipients) {
    if (smfi_delrcpt(context, const_cast<char*>(recipient.c_str())) != MI_SUCCESS)
      return "the server refused to remove a recipient";
  }
  if (!plan.addedRecipient.empty() &&
      smfi_addrcpt(context, const_cast<char*>(plan.addedRecipient.c_str())) != MI_SUCCESS)
    return "the server refused to add the intercept mailbox";
  if (plan.newSender &&
      smfi_chgfrom(context, const_cast<char*>(plan.newSender->c_str()), nullptr) != MI_SUCCESS)
    return "the server refused to change the envelope sender";
  if (!plan.quarantineReason.empty() &&
      smfi_quarantine(context, const_cast<char*>(plan.quarantineReason.c_str())) != MI_SUCCESS)
    return "the server refused to hold the message";
  return "";
}

// "redirect+hold" when a redirected message is held as well.
std::string actionText(Action action, const ActionPlan& plan) {
  return std::string(actionName(action)) + (plan.redirectHeld ? "+hold" : "");
}

sfsistat finishMessage(SMFICTX* context, Connection& connection) {
  const auto started = std::chrono::steady_clock::now();
  const char* queueMacro = smfi_getsymval(context, const_cast<char*>("i"));
  const std::string queueId = queueMacro != nullptr ? queueMacro : "NOQUEUE";
  const Options& options = *service->options;
  HeldMessage& message = connection.message;
  MessageEndReport metricsReport(milterMetrics(), message.size());
  ScanVerdict verdict;
  Outcome outcome = Outcome::clean;
  sfsistat status = SMFIS_CONTINUE;
  std::string reason = connection.failure;
  std::string action = actionName(options.action);
  if (!reason.empty()) {
    outcome = Outcome::failed;
    status = SMFIS_TEMPFAIL;
  } else if (connection.refused) {
    outcome = Outcome::failed;
    reason = "the milter is stopping";
    smfi_setreply(context, const_cast<char*>("451"), const_cast<char*>("4.3.2"),
                  const_cast<char*>("Attachment filter restarting, try again later"));
    status = SMFIS_TEMPFAIL;
  } else if (message.oversized()) {
    outcome = Outcome::oversized;
    smfi_setreply(context, const_cast<char*>("452"), const_cast<char*>("4.3.4"),
                  const_cast<char*>("Message larger than the attachment filter holds"));
    status = SMFIS_TEMPFAIL;
  } else {
    const std::optional<std::string> subject = subjectOf(message.messageBytes());
    const std::shared_ptr<const std::string> rules = service->rules->current();
    verdict = scanHeldMessage(message.routingBytes(), *rules, subject, options.mailbox, options.strict);
    const MessageFacts facts{message.sender(), message.recipients(), subject ? subject->size() : 0,
                             connection.header};
    const ActionPlan plan = planFor(options.action, verdict, facts, options.redirectSender);
    action = actionText(options.action, plan);
    if (verdict.hit) outcome = Outcome::hit;
    // No verdict without every name: the server keeps the message and tries again.
    reason = verdict.temporaryFailure.empty() ? carryOut(context, connection, plan)
                                              : "not scanned: " + verdict.temporaryFailure;
    if (!reason.empty()) {
      outcome = Outcome::failed;
      status = SMFIS_TEMPFAIL;
    } else if (plan.reject) {
      std::string reply = replyEscaped(plan.replyText);
      smfi_setreply(context, const_cast<char*>("550"), const_cast<char*>("5.7.1"), reply.data());
      status = SMFIS_REJECT;
    } else if (!plan.removedRecipients.empty()) {
      for (const std::string& line : recipientLogLines(queueId, message.recipients()))
        service->log->info(line);
    }
  }
  const std::chrono::duration<double, std::milli> taken = std::chrono::steady_clock::now() - started;
  service->log->info(
      messageLogLine(queueId, outcome, action, verdict, taken.count(), message.size(), reason));
  metricsReport.ended(outcome,
                      failureCauseOf(!connection.failure.empty(), connection.refused, message.oversized(),
                                     !verdict.temporaryFailure.empty()),
                      action, verdict);
  endMessage(connection, true);
  return status;
}

sfsistat onNegotiate(SMFICTX* context, unsigned long actions, unsigned long steps, unsigned long,
                     unsigned long, unsigned long* wanted, unsigned long* stepsWanted, unsigned long* spare2,
                     unsigned long* spare3) {
  return guarded(context, 0, [&](Connection& connection) {
    *wanted = actions & wantedActions;
    *stepsWanted = steps & (skippedSteps | unansweredSteps | SMFIP_HDR_LEADSPC);
    *spare2 = 0;
    *spare3 = 0;
    connection.leadingSpaceKept = (steps & SMFIP_HDR_LEADSPC) != 0;
    connection.unanswered = steps & unansweredSteps;
    return SMFIS_CONTINUE;
  });
}

// The SIZE= parameter of MAIL FROM, if the client gave one; 0 otherwise.
std::size_t declaredSize(char** arguments) {
  for (char** argument = arguments + 1; *argument != nullptr; ++argument) {
    if (strncasecmp(*argument, "SIZE=", 5) == 0) return std::strtoull(*argument + 5, nullptr, 10);
  }
  return 0;
}

sfsistat onEnvelopeFrom(SMFICTX* context, char** arguments) {
  return guarded(context, SMFIP_NR_MAIL, [&](Connection& connection) {
    endMessage(connection);  // a transaction the server left without an end
    beginMessage(connection);
    if (arguments != nullptr && arguments[0] != nullptr && !connection.refused) {
      connection.message.setSender(arguments[0]);
      connection.message.expectSize(declaredSize(arguments));
    }
    return recorded(connection, SMFIP_NR_MAIL);
  });
}

sfsistat onRecipient(SMFICTX* context, char** arguments) {
  return guarded(context, SMFIP_NR_RCPT, [&](Connection& connection) {
    if (arguments != nullptr && arguments[0] != nullptr) connection.message.addRecipient(arguments[0]);
    return recorded(connection, SMFIP_NR_RCPT);
  });
}

// The milter library fixes this signature, const or not.
// NOLINTNEXTLINE(readability-non-const-parameter)
sfsistat onHeader(SMFICTX* context, char* name, char* value) {
  return guarded(context, SMFIP_NR_HDR, [&](Connection& connection) {
    if (connection.refused) return recorded(connection, SMFIP_NR_HDR);
    connection.message.addHeaderField(name, value, connection.leadingSpaceKept);
    const std::string_view text(value);
    connection.header.add(
        name, connection.leadingSpaceKept && !text.empty() && text[0] == ' ' ? text.substr(1) : text);
    return recorded(connection, SMFIP_NR_HDR);
  });
}

sfsistat onEndOfHeader(SMFICTX* context) {
  return guarded(context, SMFIP_NR_EOH, [](Connection& connection) {
    connection.message.endHeader();
    return recorded(connection, SMFIP_NR_EOH);
  });
}

sfsistat onBody(SMFICTX* context, unsigned char* chunk, size_t size) {
  return guarded(context, SMFIP_NR_BODY, [&](Connection& connection) {
    if (!connection.refused)
      connection.message.addBody(std::string_view(reinterpret_cast<const char*>(chunk), size));
    return recorded(connection, SMFIP_NR_BODY);
  });
}

sfsistat onEndOfMessage(SMFICTX* context) {
  return guarded(context, 0, [&](Connection& connection) { return finishMessage(context, connection); });
}

sfsistat onAbort(SMFICTX* context) {
  return guarded(context, 0, [](Connection& connection) {
    endMessage(connection);
    return SMFIS_CONTINUE;
  });
}

sfsistat onClose(SMFICTX* context) {
  auto* connection = static_cast<Connection*>(smfi_getpriv(context));
  if (connection != nullptr) {
    replied(*connection);
    endMessage(*connection);
  }
  delete connection;
  smfi_setpriv(context, nullptr);
  return SMFIS_CONTINUE;
}

}  // namespace

smfiDesc milterDescription(const Service& serving) {
  service = &serving;
  smfiDesc description{};
  description.xxfi_name = const_cast<char*>("zentry-milter");
  description.xxfi_version = SMFI_VERSION;
  description.xxfi_flags = wantedActions;
  description.xxfi_envfrom = onEnvelopeFrom;
  description.xxfi_envrcpt = onRecipient;
  description.xxfi_header = onHeader;
  description.xxfi_eoh = onEndOfHeader;
  description.xxfi_body = onBody;
  description.xxfi_eom = onEndOfMessage;
  description.xxfi_abort = onAbort;
  description.xxfi_close = onClose;
  description.xxfi_negotiate = onNegotiate;
  return description;
}

}  // namespace zentry::milter
