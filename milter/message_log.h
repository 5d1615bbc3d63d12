#pragma once

#include <string>

#include "milter/message_scan.h"

namespace zentry::milter {

/// How one message ended, for its log line.
enum class Outcome { clean, hit, oversized, failed };

/// The one log line of a message: queue id, verdict, action, rule, name, the
/// milter's own time for it and the message size. Texts from the message are
/// cut and made printable, so a line is always one bounded line.
std::string messageLogLine(const std::string& queueId, Outcome outcome, const char* action,
                           const ScanVerdict& verdict, double milliseconds, std::size_t bytes);

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
