#pragma once

#include <string>
#include <vector>

namespace zentry::test {

/// Applies the test data escapes to `text` from `at` up to an unescaped
/// `stop` (or the end), leaving `at` after the stop: \\ \r \n \t \0 \xHH give
/// one byte, \{N:TEXT} gives TEXT N times, \c sets `noLineEnd`. Sets
/// `problem` on an unknown escape.
std::string unescape(const std::string& text, std::size_t& at, char stop, bool& noLineEnd,
                     std::string& problem);

/// One row of a table file: its fields, escapes applied, and "file:line".
struct Row {
  std::vector<std::string> fields;
  std::string where;
  const std::string& operator[](std::size_t i) const { return fields.at(i); }
};

/// The rows of tests/testdata/tables/<name>: one row a line, fields between
/// TABs (a run of TABs is one separator, "" an empty field, \t a TAB inside
/// one); blank lines and lines starting with # are left out.
std::vector<Row> readTable(const std::string& name);

}  // namespace zentry::test
