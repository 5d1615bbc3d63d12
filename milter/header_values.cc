#include "milter/header_values.h"

#include "milter/action_plan.h"

namespace zentry::milter {
namespace {

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// Where the encoded word starting at `start` ("=?charset?X?text?=") ends,
// one past its "?="; npos when the text ends before the word does, 0 when
// a blank comes first (then it was no encoded word).
std::size_t encodedWordEnd(const std::string& text, std::size_t start) {
  int questionMarks = 1;
  for (std::size_t i = start + 2; i < text.size(); ++i) {
    if (isBlank(text[i])) return 0;
    if (text[i] != '?') continue;
    if (++questionMarks >= 4 && i + 1 < text.size() && text[i + 1] == '=') return i + 2;
  }
  return std::string::npos;
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
  if (subjectBytes <= verdictSubjectCut) return verdictSubject;
  // Whole words are stepped over, so a "=?" inside one (base64 padding
  // before its "?=") is never taken for the start of another.
  std::size_t start = verdictSubject.find("=?");
  while (start != std::string::npos) {
    const std::size_t wordEnd = encodedWordEnd(verdictSubject, start);
    if (wordEnd == std::string::npos) break;
    start = verdictSubject.find("=?", wordEnd == 0 ? start + 2 : wordEnd);
  }
  if (start == std::string::npos) return verdictSubject;
  std::size_t end = start;
  while (end > 0 && isBlank(verdictSubject[end - 1])) --end;
  return verdictSubject.substr(0, end);
}

}  // namespace zentry::milter
