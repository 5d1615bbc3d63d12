#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace zentry::milter {

// Pieces of the Prometheus text exposition format (version 0.0.4), which
// every scraper reads: "# HELP", "# TYPE", then one sample a line.

/// A label value as the exposition may carry it: valid UTF-8 sequences kept,
/// any other byte read as Latin-1 (what older rules files are written in),
/// control characters made U+FFFD, and the result cut to at most `limit`
/// bytes at a character's edge. Two rule labels that differ only past the
/// cut share one value.
std::string labelValueOf(std::string_view raw, std::size_t limit = 200);

/// `value` quoted for a sample line: '\', '"' and line feed escaped.
std::string quotedLabel(std::string_view value);

/// The "# HELP" and "# TYPE" lines of one metric family.
void appendFamilyHead(std::string& out, const char* name, const char* type, const char* help);

/// One sample line: NAME{LABELS} VALUE; `labels` is already written
/// (`rule="x"`) or empty.
void appendSample(std::string& out, const std::string& name, const std::string& labels, std::uint64_t value);
void appendSample(std::string& out, const std::string& name, const std::string& labels, double value);

/// A number as the exposition writes it: the shortest text that reads back
/// as the same double.
std::string numberText(double value);

}  // namespace zentry::milter
