#include "host/report.h"

#include <algorithm>
#include <cstdio>
#include <map>

#include "host/terminal_text.h"

namespace zentry::host {
namespace {

constexpr std::size_t subjectColumnLimit = 40;
constexpr std::size_t ruleColumnLimit = 24;

std::size_t count(const std::vector<ReplayRow>& rows, ReplayRow::Result result) {
  return static_cast<std::size_t>(std::count_if(
      rows.begin(), rows.end(), [result](const ReplayRow& row) { return row.result == result; }));
}

std::string printable(const std::string& text, std::size_t limit) {
  std::string out = terminalText(text);
  if (out.size() > limit) out.replace(limit - 3, std::string::npos, "...");
  return out;
}

// Columns on a UTF-8 terminal: a letter written in two bytes takes one column.
std::size_t columns(const std::string& text) {
  std::size_t count = 0;
  for (const char c : text) count += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  return count;
}

std::string pad(const std::string& text, std::size_t width) {
  const std::size_t used = columns(text);
  return used >= width ? text : text + std::string(width - used, ' ');
}

struct TextCells {
  std::string id, subject, rule, name;
};

TextCells textCells(const ReplayRow& row) {
  TextCells cells{
      printable(row.id, 1000),
      row.subject ? printable(row.decodedSubject.value_or(*row.subject), subjectColumnLimit) : "(none)", "-",
      "-"};
  if (row.result == ReplayRow::Result::hit) {
    cells.rule = printable(row.label, ruleColumnLimit);
    if (row.name) cells.name = printable(*row.name, 1000);
  } else if (row.result == ReplayRow::Result::failed) {
    cells.rule = "FAILED";
    cells.name = printable(row.problem, 1000);
  }
  return cells;
}

std::string textReport(const std::vector<ReplayRow>& rows, std::size_t skipped) {
  std::vector<TextCells> cells{{"Message", "Subject", "Rule", "Name"}};
  for (const ReplayRow& row : rows) cells.push_back(textCells(row));
  std::size_t idWidth = 0, subjectWidth = 0, ruleWidth = 0;
  for (const TextCells& c : cells) {
    idWidth = std::max(idWidth, c.id.size());
    subjectWidth = std::max(subjectWidth, columns(c.subject));
    ruleWidth = std::max(ruleWidth, c.rule.size());
  }
  std::string out;
  for (const TextCells& c : cells) {
    out += pad(c.id, idWidth) + "  " + pad(c.subject, subjectWidth) + "  " + pad(c.rule, ruleWidth) + "  " +
           c.name + "\n";
  }
  out += "\n" + totalsLine(rows, skipped) + "\n";
  std::map<std::string, std::size_t> perLabel;
  for (const ReplayRow& row : rows) {
    if (row.result == ReplayRow::Result::hit) ++perLabel[row.label];
  }
  for (const auto& [label, hits] : perLabel)
    out += "  " + std::to_string(hits) + "  " + printable(label, 200) + "\n";
  return out;
}

std::string csvField(const std::string& text) {
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string out = "\"";
  for (const char c : text) out += c == '"' ? std::string("\"\"") : std::string(1, c);
  return out + "\"";
}

std::string csvReport(const std::vector<ReplayRow>& rows) {
  static const char* results[] = {"clean", "hit", "failed"};
  std::string out = "message,subject,result,rule,name,error,decoded_subject\r\n";
  for (const ReplayRow& row : rows) {
    out += csvField(row.id) + "," + csvField(row.subject.value_or("")) + "," +
           results[static_cast<int>(row.result)] + "," + csvField(row.label) + "," +
           csvField(row.name.value_or("")) + "," + csvField(row.problem) + "," +
           csvField(row.decodedSubject.value_or("")) + "\r\n";
  }
  return out;
}

// JSON must be UTF-8; mail subjects often are not. Bytes outside valid UTF-8
// are written as the Latin-1 character of the same number, so nothing is lost.
std::string jsonString(const std::string& text) {
  std::string out = "\"";
  char escape[8];
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c >= 0x20 && c < 0x7f) {
      out += static_cast<char>(c);
    } else if (const std::size_t length = c >= 0x80 ? utf8SequenceLength(text, i) : 0) {
      out.append(text, i, length);
      i += length - 1;
    } else {
      std::snprintf(escape, sizeof escape, "\\u%04x", c);
      out += escape;
    }
  }
  return out + "\"";
}

std::string jsonOptional(const std::optional<std::string>& text) { return text ? jsonString(*text) : "null"; }

std::string jsonReport(const std::vector<ReplayRow>& rows, const std::vector<std::string>& skipped) {
  static const char* results[] = {"clean", "hit", "failed"};
  std::string out = "{\"messages\":[";
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const ReplayRow& row = rows[i];
    const bool hit = row.result == ReplayRow::Result::hit;
    out += std::string(i == 0 ? "\n" : ",\n") + "{\"message\":" + jsonString(row.id) +
           ",\"subject\":" + jsonOptional(row.subject) +
           ",\"decoded_subject\":" + jsonOptional(row.decodedSubject) + ",\"result\":\"" +
           results[static_cast<int>(row.result)] + "\",\"rule\":" + (hit ? jsonString(row.label) : "null") +
           ",\"name\":" + jsonOptional(row.name);
    if (row.result == ReplayRow::Result::failed) out += ",\"error\":" + jsonString(row.problem);
    out += "}";
  }
  out += "\n],\"skipped\":[";
  for (std::size_t i = 0; i < skipped.size(); ++i) out += (i == 0 ? "" : ",") + jsonString(skipped[i]);
  out += "],\"totals\":{\"messages\":" + std::to_string(rows.size()) +
         ",\"hit\":" + std::to_string(count(rows, ReplayRow::Result::hit)) +
         ",\"clean\":" + std::to_string(count(rows, ReplayRow::Result::clean)) +
         ",\"failed\":" + std::to_string(count(rows, ReplayRow::Result::failed)) +
         ",\"skipped\":" + std::to_string(skipped.size()) + "}}\n";
  return out;
}

}  // namespace

std::string totalsLine(const std::vector<ReplayRow>& rows, std::size_t skipped) {
  return std::to_string(rows.size()) + " messages: " + std::to_string(count(rows, ReplayRow::Result::hit)) +
         " hit, " + std::to_string(count(rows, ReplayRow::Result::clean)) + " clean, " +
         std::to_string(count(rows, ReplayRow::Result::failed)) + " failed, " + std::to_string(skipped) +
         " skipped";
}

std::string formatReport(ReportFormat format, const std::vector<ReplayRow>& rows,
                         const std::vector<std::string>& skipped) {
  switch (format) {
    case ReportFormat::csv:
      return csvReport(rows);
    case ReportFormat::json:
      return jsonReport(rows, skipped);
    case ReportFormat::text:
      break;
  }
  return textReport(rows, skipped.size());
}

std::string progressBar(std::size_t done, std::size_t total, std::size_t width) {
  const std::size_t filled = total == 0 ? width : std::min(width, done * width / total);
  return "[" + std::string(filled, '#') + std::string(width - filled, '.') + "] " + std::to_string(done) +
         "/" + std::to_string(total);
}

}  // namespace zentry::host
