#include "host/report.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <string_view>

#include "host/terminal_text.h"

namespace zentry::host {
namespace {

constexpr std::size_t subjectColumnLimit = 40;
constexpr std::size_t ruleColumnLimit = 24;

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

std::string textLine(const TextCells& c, std::size_t idWidth, std::size_t subjectWidth,
                     std::size_t ruleWidth) {
  return pad(c.id, idWidth) + "  " + pad(c.subject, subjectWidth) + "  " + pad(c.rule, ruleWidth) + "  " +
         c.name + "\n";
}

std::string csvField(const std::string& raw) {
  // A spreadsheet runs a cell that begins so as a formula (a subject of
  // "=HYPERLINK(...)"); the quote in front makes it text.
  const bool formula = !raw.empty() && std::string_view("=+-@\t\r").find(raw[0]) != std::string_view::npos;
  std::string text = formula ? "'" + raw : raw;
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string out = "\"";
  for (const char c : text) out += c == '"' ? std::string("\"\"") : std::string(1, c);
  return out + "\"";
}

const char* const resultNames[] = {"clean", "hit", "failed"};

std::string csvRow(const ReplayRow& row) {
  return csvField(row.id) + "," + csvField(row.subject.value_or("")) + "," +
         resultNames[static_cast<int>(row.result)] + "," + csvField(row.label) + "," +
         csvField(row.name.value_or("")) + "," + csvField(row.problem) + "," +
         csvField(row.decodedSubject.value_or("")) + "\r\n";
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

std::string jsonRow(const ReplayRow& row, std::size_t index) {
  const bool hit = row.result == ReplayRow::Result::hit;
  std::string out = std::string(index == 0 ? "\n" : ",\n") + "{\"message\":" + jsonString(row.id) +
                    ",\"subject\":" + jsonOptional(row.subject) +
                    ",\"decoded_subject\":" + jsonOptional(row.decodedSubject) + ",\"result\":\"" +
                    resultNames[static_cast<int>(row.result)] +
                    "\",\"rule\":" + (hit ? jsonString(row.label) : "null") +
                    ",\"name\":" + jsonOptional(row.name);
  if (row.result == ReplayRow::Result::failed) out += ",\"error\":" + jsonString(row.problem);
  return out + "}";
}

std::string jsonTail(const ReportTotals& totals, const std::vector<std::string>& skipped) {
  std::string out = "\n],\"skipped\":[";
  for (std::size_t i = 0; i < skipped.size(); ++i) out += (i == 0 ? "" : ",") + jsonString(skipped[i]);
  return out + "],\"totals\":{\"messages\":" + std::to_string(totals.messages) +
         ",\"hit\":" + std::to_string(totals.hit) + ",\"clean\":" + std::to_string(totals.clean) +
         ",\"failed\":" + std::to_string(totals.failed) + ",\"skipped\":" + std::to_string(skipped.size()) +
         "}}\n";
}

}  // namespace

void ReportTotals::add(const ReplayRow& row) {
  ++messages;
  switch (row.result) {
    case ReplayRow::Result::hit:
      ++hit;
      ++hitsPerLabel[row.label];
      break;
    case ReplayRow::Result::clean:
      ++clean;
      break;
    case ReplayRow::Result::failed:
      ++failed;
      break;
  }
}

void ReportWriter::measure(const ReplayRow& row) {
  const TextCells c = textCells(row);
  idWidth_ = std::max(idWidth_, c.id.size());
  subjectWidth_ = std::max(subjectWidth_, columns(c.subject));
  ruleWidth_ = std::max(ruleWidth_, c.rule.size());
}

std::string ReportWriter::head() const {
  switch (format_) {
    case ReportFormat::csv:
      return "message,subject,result,rule,name,error,decoded_subject\r\n";
    case ReportFormat::json:
      return "{\"messages\":[";
    case ReportFormat::text:
      break;
  }
  return textLine({"Message", "Subject", "Rule", "Name"}, idWidth_, subjectWidth_, ruleWidth_);
}

std::string ReportWriter::row(const ReplayRow& row, std::size_t index) const {
  switch (format_) {
    case ReportFormat::csv:
      return csvRow(row);
    case ReportFormat::json:
      return jsonRow(row, index);
    case ReportFormat::text:
      break;
  }
  return textLine(textCells(row), idWidth_, subjectWidth_, ruleWidth_);
}

std::string ReportWriter::tail(const ReportTotals& totals, const std::vector<std::string>& skipped) const {
  switch (format_) {
    case ReportFormat::csv:
      return "";
    case ReportFormat::json:
      return jsonTail(totals, skipped);
    case ReportFormat::text:
      break;
  }
  std::string out = "\n" + totalsLine(totals, skipped.size()) + "\n";
  for (const auto& [label, hits] : totals.hitsPerLabel)
    out += "  " + std::to_string(hits) + "  " + printable(label, 200) + "\n";
  return out;
}

std::string totalsLine(const ReportTotals& totals, std::size_t skipped) {
  return std::to_string(totals.messages) + " messages: " + std::to_string(totals.hit) + " hit, " +
         std::to_string(totals.clean) + " clean, " + std::to_string(totals.failed) + " failed, " +
         std::to_string(skipped) + " skipped";
}

std::string formatReport(ReportFormat format, const std::vector<ReplayRow>& rows,
                         const std::vector<std::string>& skipped) {
  ReportWriter writer(format);
  ReportTotals totals;
  for (const ReplayRow& row : rows) {
    writer.measure(row);
    totals.add(row);
  }
  std::string out = writer.head();
  for (std::size_t i = 0; i < rows.size(); ++i) out += writer.row(rows[i], i);
  return out + writer.tail(totals, skipped);
}

std::string progressBar(std::size_t done, std::size_t total, std::size_t width) {
  const std::size_t filled = total == 0 ? width : std::min(width, done * width / total);
  return "[" + std::string(filled, '#') + std::string(width - filled, '.') + "] " + std::to_string(done) +
         "/" + std::to_string(total);
}

}  // namespace zentry::host
