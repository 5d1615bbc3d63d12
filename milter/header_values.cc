#include "milter/header_values.h"

#include "milter/action_plan.h"

namespace zentry::milter {
namespace {

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// True when `tail` (starting at "=?") can only be the start of an encoded
// word that the cut left unfinished: no blank in it and no "?=" after its
// third '?' ("=?charset?B?text?=" has four).
bool unfinishedEncodedWord(const std::string& tail) {
  int questionMarks = 0;
  for (std::size_t i = 0; i < tail.size(); ++i) {
    if (isBlank(tail[i])) return false;
    if (tail[i] != '?') continue;
    ++questionMarks;
    if (questionMarks >= 4 && i + 1 < tail.size() && tail[i + 1] == '=') return false;
  }
  return true;
}

}  // namespace

std::string recipientsFieldValue(const std::vector<std::string>& recipients) {
  std::string value;
  std::size_t kept = 0;
  for (const std::string& recipient : recipients) {
    const std::string line = (value.empty() ? "" : ",\n\t") + printableText(recipient, 512);
    // Room is kept for the count line that would follow.
    if (value.size() + line.size() + 48 > originalFieldLimit) break;
    value += line;
    ++kept;
  }
  if (kept < recipients.size()) {
    value += (value.empty() ? "(" : "\n\t(") + std::to_string(recipients.size() - kept) +
             " more, listed in the log)";
  }
  return value;
}

std::string originalSubjectValue(const std::string& received) {
  if (received.size() <= originalFieldLimit) return received;
  std::size_t cut = originalFieldLimit;
  while (cut > 0 && !isBlank(received[cut])) --cut;
  while (cut > 0 && isBlank(received[cut - 1])) --cut;
  return received.substr(0, cut == 0 ? originalFieldLimit : cut);
}

std::string subjectWithoutCutWord(const std::string& verdictSubject, std::size_t subjectBytes) {
  const std::size_t start = verdictSubject.rfind("=?");
  if (subjectBytes <= verdictSubjectCut || start == std::string::npos ||
      !unfinishedEncodedWord(verdictSubject.substr(start)))
    return verdictSubject;
  std::size_t end = start;
  while (end > 0 && isBlank(verdictSubject[end - 1])) --end;
  return verdictSubject.substr(0, end);
}

}  // namespace zentry::milter
