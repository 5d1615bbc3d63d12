#include "milter/message_log.h"

#include <syslog.h>

#include <cstdio>
#include <utility>

#include "milter/action_plan.h"

namespace zentry::milter {
namespace {

const char* outcomeName(Outcome outcome) {
  switch (outcome) {
    case Outcome::clean:
      return "clean";
    case Outcome::hit:
      return "hit";
    case Outcome::oversized:
      return "oversized";
    case Outcome::failed:
      break;
  }
  return "failed";
}

}  // namespace

std::string messageLogLine(const std::string& queueId, Outcome outcome, const std::string& action,
                           const ScanVerdict& verdict, double milliseconds, std::size_t bytes,
                           const std::string& reason) {
  char figures[96];
  std::snprintf(figures, sizeof figures, " time=%.3fms size=%zu", milliseconds, bytes);
  std::string line = "queue=" + printableText(queueId, 64) + " verdict=" + outcomeName(outcome);
  if (verdict.hit) {
    line += " action=" + action + " rule=\"" + printableText(verdict.ruleLabel, 200) + "\" name=\"" +
            printableText(verdict.name, 200) + "\"";
  }
  if (!reason.empty()) line += " reason=\"" + printableText(reason, 200) + "\"";
  return line + figures;
}

std::vector<std::string> recipientLogLines(const std::string& queueId,
                                           const std::vector<std::string>& recipients) {
  // Most syslog receivers take lines of 1 KiB at least; one recipient (cut
  // at 512 bytes, at most three times that once made printable) may pass it.
  constexpr std::size_t lineLimit = 900;
  std::vector<std::string> lines;
  const std::string total = std::to_string(recipients.size());
  std::size_t first = 0;
  while (first < recipients.size()) {
    std::string list = printableText(recipients[first], 512);
    std::size_t next = first + 1;
    for (; next < recipients.size(); ++next) {
      const std::string item = printableText(recipients[next], 512);
      if (list.size() + 2 + item.size() > lineLimit) break;
      list += ", " + item;
    }
    std::string line = "queue=" + printableText(queueId, 64);
    line += " recipients " + std::to_string(first + 1);
    line += "-" + std::to_string(next);
    line += " of " + total;
    line += ": " + list;
    lines.push_back(std::move(line));
    first = next;
  }
  return lines;
}

MessageLog::MessageLog(bool toStandardError) : toStandardError_(toStandardError) {
  if (!toStandardError_) openlog("zentry-milter", LOG_PID | LOG_NDELAY, LOG_MAIL);
}

void MessageLog::info(const std::string& line) const {
  // One call per line: stdio locks the stream, so lines never interleave.
  if (toStandardError_)
    std::fprintf(stderr, "zentry-milter: %s\n", line.c_str());
  else
    syslog(LOG_INFO, "%s", line.c_str());
}

void MessageLog::error(const std::string& line) const {
  if (toStandardError_)
    std::fprintf(stderr, "zentry-milter: %s\n", line.c_str());
  else
    syslog(LOG_ERR, "%s", line.c_str());
}

}  // namespace zentry::milter
