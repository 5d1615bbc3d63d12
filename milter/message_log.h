#pragma once

#include <string>
#include <vector>

#include "milter/message_scan.h"

namespace zentry::milter {

/// How one message ended, for its log line.
enum class Outcome { clean, hit, oversized, failed };

/// The one log line of a message: queue id, verdict, action, rule, name,
/// why it failed (`reason`, for a failure), the milter's own time for it and
/// the message size. Texts from the message are cut and made printable, so a
/// line is always one bounded line.
std::string messageLogLine(const std::string& queueId, Outcome outcome, const std::string& action,
                           const ScanVerdict& verdict, double milliseconds, std::size_t bytes,
                           const std::string& reason = "");

/// The recipients of a redirected message, all of them, as lines of at most
/// about 1000 bytes ("queue=ID recipients 1-7 of 7: <a>, <b>, ..."), so that a
/// list too long for the message's own field can be read back whole.
std::vector<std::string> recipientLogLines(const std::string& queueId,
                                           const std::vector<std::string>& recipients);

/// Where log lines go: syslog (facility mail), or standard error when the
/// milter runs in the foreground. Safe to use from several threads.
class MessageLog {
 public:
  explicit MessageLog(bool toStandardError);
  void info(const std::string& line) const;
  void error(const std::string& line) const;

 private:
  bool toStandardError_;
};

}  // namespace zentry::milter
