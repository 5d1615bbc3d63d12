#pragma once

#include <cstddef>
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

/// The whole report: one row per message in mailbox order, then totals (in
/// text and JSON; CSV carries rows only, so that scripts can read it as a
/// table) and, in text, the hits counted per rule label.
std::string formatReport(ReportFormat format, const std::vector<ReplayRow>& rows,
                         const std::vector<std::string>& skipped);

/// One line "N messages: H hit, C clean, F failed, S skipped".
std::string totalsLine(const std::vector<ReplayRow>& rows, std::size_t skipped);

/// A progress bar line (no line end) for `done` of `total` messages.
std::string progressBar(std::size_t done, std::size_t total, std::size_t width);

}  // namespace zentry::host
