#include "milter/message_log.h"

#include <syslog.h>

#include <cstdio>

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

std::string messageLogLine(const std::string& queueId, Outcome outcome, const char* action,
                           const ScanVerdict& verdict, double milliseconds, std::size_t bytes) {
  char figures[96];
  std::snprintf(figures, sizeof figures, " time=%.3fms size=%zu", milliseconds, bytes);
  std::string line = "queue=" + printableText(queueId, 64) + " verdict=" + outcomeName(outcome);
  if (outcome == Outcome::hit) {
    line += std::string(" action=") + action + " rule=\"" + printableText(verdict.ruleLabel, 200) +
            "\" name=\"" + printableText(verdict.name, 200) + "\"";
  }
  return line + figures;
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
