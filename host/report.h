#pragma once

#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace zentry::host {

/// The outcome of one replayed message.
struct ReplayRow {
  enum class Result { clean, hit, failed };
  std::string id;                      ///< mbox message number or maildir file
  std::optional<std::string> subject;  ///< as passed to the filter; none without a Subject field
  Result result = Result::clean;
  std::string label;                          ///< rule label on a hit
  std::optional<std::string> name;            ///< matched name on a hit by file mask
  std::string problem;                        ///< why the run failed
  std::optional<std::string> decodedSubject;  ///< trimmed, encoded words decoded, as the filter matches it
};

enum class ReportFormat { text, csv, json };

/// What the end of a report counts, kept as the rows go by.
struct ReportTotals {
  std::size_t messages = 0, hit = 0, clean = 0, failed = 0;
  std::map<std::string, std::size_t> hitsPerLabel;
  void add(const ReplayRow& row);
};

/// A report written row by row, so that a mailbox of any length costs the
/// same memory. Text aligns its columns to the widest cell, so each row is
/// measured (in mailbox order) before any is formatted; CSV and JSON need no
/// measuring.
class ReportWriter {
 public:
  explicit ReportWriter(ReportFormat format) : format_(format) {}
  bool measures() const { return format_ == ReportFormat::text; }
  void measure(const ReplayRow& row);
  /// The text before the first row.
  std::string head() const;
  /// The row that follows the `index` rows before it.
  std::string row(const ReplayRow& row, std::size_t index) const;
  /// Totals (in text and JSON; CSV carries rows only, so that scripts can
  /// read it as a table) and, in text, the hits counted per rule label.
  std::string tail(const ReportTotals& totals, const std::vector<std::string>& skipped) const;

 private:
  ReportFormat format_;
  std::size_t idWidth_ = 7, subjectWidth_ = 7, ruleWidth_ = 4;  // the headings'
};

/// The whole report: one row per message in mailbox order, then the tail.
std::string formatReport(ReportFormat format, const std::vector<ReplayRow>& rows,
                         const std::vector<std::string>& skipped);

/// One line "N messages: H hit, C clean, F failed, S skipped".
std::string totalsLine(const ReportTotals& totals, std::size_t skipped);

/// A progress bar line (no line end) for `done` of `total` messages.
std::string progressBar(std::size_t done, std::size_t total, std::size_t width);

}  // namespace zentry::host
