#include "host/filter_trace.h"

#include <algorithm>

namespace zentry::host {
namespace {

constexpr std::size_t bannerLines = 2;
constexpr std::size_t verdictFieldLimit = 100;

std::vector<std::string> splitLines(const std::string& output) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < output.size()) {
    std::size_t end = output.find('\n', start);
    const std::size_t next = end == std::string::npos ? output.size() : end + 1;
    if (end == std::string::npos) end = output.size();
    if (end > start && output[end - 1] == '\r') --end;
    lines.push_back(output.substr(start, end - start));
    start = next;
  }
  return lines;
}

bool startsWith(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }

bool endsWith(const std::string& text, const std::string& suffix) {
  return text.size() >= suffix.size() &&
         text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// The subject as the verdict line shows it: line breaks printed as spaces,
// at most 100 bytes.
std::string shownSubject(const std::optional<std::string>& rawSubject) {
  std::string shown = rawSubject.value_or("").substr(0, verdictFieldLimit);
  for (char& c : shown) {
    if (c == '\r' || c == '\n') c = ' ';
  }
  return shown;
}

std::string labelFromVerdict(const std::string& line, const std::optional<std::string>& rawSubject) {
  static const std::string prefix = "Subject: Infected (";
  const std::string suffix = ") - " + shownSubject(rawSubject);
  if (line.size() >= prefix.size() + suffix.size() && endsWith(line, suffix)) {
    return line.substr(prefix.size(), line.size() - prefix.size() - suffix.size());
  }
  const std::size_t close = line.rfind(") - ");
  return close == std::string::npos || close < prefix.size()
             ? std::string()
             : line.substr(prefix.size(), close - prefix.size());
}

// "Found suspect file - <name> (<label>)": the label in the verdict is cut at
// 100 bytes, here at 200, so a label of exactly 100 bytes may go on.
void readFoundLine(const std::string& line, FilterTrace* trace) {
  std::string rest = line.substr(sizeof "Found suspect file - " - 1);
  if (!endsWith(rest, ")")) return;
  rest.pop_back();
  const std::string key = " (" + trace->label;
  std::size_t at = std::string::npos;
  if (trace->label.size() < verdictFieldLimit) {
    if (endsWith(rest, key)) at = rest.size() - key.size();
  } else {
    at = rest.rfind(key);
  }
  if (at == std::string::npos) return;
  trace->label = rest.substr(at + 2);
  if (at > 0) trace->matchedName = rest.substr(0, at);
}

}  // namespace

FilterTrace parseFilterOutput(const std::string& output, const std::optional<std::string>& rawSubject) {
  FilterTrace trace;
  const std::vector<std::string> lines = splitLines(output);
  std::size_t end = lines.size();
  std::string foundLine;
  if (end > 0 && startsWith(lines[end - 1], "Found suspect file - ")) foundLine = lines[--end];
  if (end >= 2 && startsWith(lines[end - 1], "Subject: Infected (") && startsWith(lines[end - 2], "To: ")) {
    trace.hit = true;
    trace.label = labelFromVerdict(lines[end - 1], rawSubject);
    end -= 2;
    if (!foundLine.empty()) readFoundLine(foundLine, &trace);
  }
  std::size_t first = end;
  while (first > 0 && startsWith(lines[first - 1], "Attachment - ")) --first;
  if (first >= 2 && startsWith(lines[first - 1], "Subject - ") && lines[first - 2].empty()) {
    trace.traced = true;
    trace.subjectText = lines[first - 1].substr(sizeof "Subject - " - 1);
    for (std::size_t i = first; i < end; ++i)
      trace.names.push_back(lines[i].substr(sizeof "Attachment - " - 1));
    for (std::size_t i = bannerLines; i + 2 < first; ++i) trace.scannerLines.push_back(lines[i]);
  }
  return trace;
}

std::string expectedLog(const std::string& output) {
  std::vector<std::string> lines;  // with their line ends
  for (std::size_t at = 0; at < output.size();) {
    const std::size_t next = std::min(output.find('\n', at), output.size() - 1) + 1;
    lines.push_back(output.substr(at, next - at));
    at = next;
  }
  std::size_t verdict = lines.size();
  if (verdict > 0 && startsWith(lines[verdict - 1], "Found suspect file - ")) --verdict;
  if (verdict >= bannerLines + 2 && startsWith(lines[verdict - 2], "To: ") &&
      startsWith(lines[verdict - 1], "Subject: Infected ("))
    lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(verdict) - 2,
                lines.begin() + static_cast<std::ptrdiff_t>(verdict));
  std::string log;
  for (std::size_t i = bannerLines; i < lines.size(); ++i) log += lines[i];
  return log;
}

}  // namespace zentry::host
