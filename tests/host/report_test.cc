#include "host/report.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "host/terminal_text.h"
#include "support/table.h"

namespace zentry::host {
namespace {

using Result = ReplayRow::Result;

const std::vector<ReplayRow> rows = {
    {"1", std::string("=?x?Q?Your_invoice?="), Result::hit, "Executable", std::string("invoice.pif"), "",
     std::string("Your invoice")},
    {"2", std::nullopt, Result::clean, "", std::nullopt, "", std::nullopt},
    {"3", std::string("a,\"b\"\r\nc"), Result::hit, "Subject rule", std::nullopt, "", std::nullopt},
    {"4", std::string("caf\xe9 \xc3\xa9\x01"), Result::failed, "", std::nullopt, "killed by signal 9",
     std::nullopt},
};

TEST(FormatReport, AllFormats) {
  std::map<std::string, std::string> expected;
  for (const test::Row& row : test::readTable("../../host/testdata/report_formats.txt"))
    expected[row[0]] += row[1];
  EXPECT_EQ(expected["text"], formatReport(ReportFormat::text, rows, {"x: empty file"}));
  EXPECT_EQ(expected["csv"], formatReport(ReportFormat::csv, rows, {}));
  EXPECT_EQ(expected["json"], formatReport(ReportFormat::json, rows, {"x\\y"}));
  const std::string cut = formatReport(
      ReportFormat::text, {{"1", std::string(50, 's'), Result::hit, std::string(30, 'r'), "n", "", {}}}, {});
  EXPECT_NE(std::string::npos, cut.find(std::string(37, 's') + "...  " + std::string(21, 'r') + "...  n\n"));
}

// A cell a spreadsheet would take for a formula is written as text.
TEST(FormatReport, CsvCellsAreNeverFormulas) {
  const std::vector<std::pair<std::string, std::string>> cells = {
      {"=HYPERLINK(\"x\")", "\"'=HYPERLINK(\"\"x\"\")\""},
      {"+1", "'+1"},
      {"-2+3", "'-2+3"},
      {"@SUM(A1)", "'@SUM(A1)"},
      {"\tx", "'\tx"},
      {"a=b", "a=b"},
      {"", ""},
      {"'a", "'a"},
  };
  for (const auto& [subject, cell] : cells) {
    const std::string csv =
        formatReport(ReportFormat::csv, {{"1", subject, Result::clean, "", {}, "", {}}}, {});
    EXPECT_NE(std::string::npos, csv.find("\r\n1," + cell + ",clean,")) << subject << "\n" << csv;
  }
}

TEST(FormatReport, JsonHoldsOnlyWellFormedUtf8) {
  for (const test::Row& row : test::readTable("../../host/testdata/json_utf8.txt")) {
    const std::string json =
        formatReport(ReportFormat::json, {{"1", row[0], Result::clean, "", {}, "", {}}}, {});
    EXPECT_NE(std::string::npos, json.find("\"subject\":\"" + row[1] + "\",")) << row.where << json;
  }
}

TEST(TerminalText, ControlsBecomeQuestionMarks) {
  for (const test::Row& row : test::readTable("../../host/testdata/terminal_text.txt"))
    EXPECT_EQ(row[1], terminalText(row[0])) << row.where;
}

TEST(ProgressBar, Ends) {
  EXPECT_EQ("[##..] 5/8", progressBar(5, 8, 4));
  EXPECT_EQ("[####] 0/0", progressBar(0, 0, 4));
}

}  // namespace
}  // namespace zentry::host
