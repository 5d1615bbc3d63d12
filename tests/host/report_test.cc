#include "host/report.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host/terminal_text.h"

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

TEST(FormatReport, Text) {
  EXPECT_EQ(
      "Message  Subject       Rule          Name\n"
      "1        Your invoice  Executable    invoice.pif\n"
      "2        (none)        -             -\n"
      "3        a,\"b\"??c      Subject rule  -\n"
      // Columns count letters: the two-byte UTF-8 letter takes one.
      "4        caf\xe9 \xc3\xa9?       FAILED        killed by signal 9\n"
      "\n"
      "4 messages: 2 hit, 1 clean, 1 failed, 1 skipped\n"
      "  1  Executable\n"
      "  1  Subject rule\n",
      formatReport(ReportFormat::text, rows, {"x: empty file"}));
  const std::string cut = formatReport(
      ReportFormat::text, {{"1", std::string(50, 's'), Result::hit, std::string(30, 'r'), "n", "", {}}}, {});
  EXPECT_NE(std::string::npos, cut.find(std::string(37, 's') + "...  " + std::string(21, 'r') + "...  n\n"));
}

TEST(FormatReport, CsvQuotesOnlyWhatNeedsIt) {
  EXPECT_EQ(
      "message,subject,result,rule,name,error,decoded_subject\r\n"
      "1,=?x?Q?Your_invoice?=,hit,Executable,invoice.pif,,Your invoice\r\n"
      "2,,clean,,,,\r\n"
      "3,\"a,\"\"b\"\"\r\nc\",hit,Subject rule,,,\r\n"
      "4,caf\xe9 \xc3\xa9\x01,failed,,,killed by signal 9,\r\n",
      formatReport(ReportFormat::csv, rows, {}));
}

// JSON must stay valid UTF-8: a stray 8-bit byte is written as the Latin-1
// character of that number, a valid sequence passes as it is.
TEST(FormatReport, JsonEscapesControlAndStrayBytes) {
  EXPECT_EQ(
      "{\"messages\":[\n"
      "{\"message\":\"1\",\"subject\":\"=?x?Q?Your_invoice?=\",\"decoded_subject\":\"Your "
      "invoice\",\"result\":\"hit\",\"rule\":\"Executable\","
      "\"name\":\"invoice.pif\"},\n"
      "{\"message\":\"2\",\"subject\":null,\"decoded_subject\":null,\"result\":\"clean\",\"rule\":null,"
      "\"name\":null},\n"
      "{\"message\":\"3\",\"subject\":\"a,\\\"b\\\"\\u000d\\u000ac\",\"decoded_subject\":null,\"result\":"
      "\"hit\",\"rule\":\"Subject "
      "rule\","
      "\"name\":null},\n"
      "{\"message\":\"4\",\"subject\":\"caf\\u00e9 "
      "\xc3\xa9\\u0001\",\"decoded_subject\":null,\"result\":\"failed\",\"rule\":null,"
      "\"name\":null,\"error\":\"killed by signal 9\"}\n"
      "],\"skipped\":[\"x\\\\y\"],\"totals\":{\"messages\":4,\"hit\":2,\"clean\":1,\"failed\":1,\"skipped\":"
      "1}}\n",
      formatReport(ReportFormat::json, rows, {"x\\y"}));
}

// Former faults: overlong forms, surrogates and values above U+10FFFF passed
// as they were and made the report unreadable to a strict decoder.
TEST(FormatReport, JsonHoldsOnlyWellFormedUtf8) {
  const std::pair<std::string, std::string> cases[] = {
      {"\xc3\xa9\xe2\x82\xac\xef\xbf\xbf\xf4\x8f\xbf\xbf",
       "\xc3\xa9\xe2\x82\xac\xef\xbf\xbf\xf4\x8f\xbf\xbf"},
      {"\xc0\xaf", "\\u00c0\\u00af"},
      {"\xe0\x9f\xbf", "\\u00e0\\u009f\\u00bf"},
      {"\xed\xa0\x80", "\\u00ed\\u00a0\\u0080"},
      {"\xf0\x8f\xbf\xbf", "\\u00f0\\u008f\\u00bf\\u00bf"},
      {"\xf4\x90\x80\x80", "\\u00f4\\u0090\\u0080\\u0080"},
      {"\xe2\x82", "\\u00e2\\u0082"},
  };
  for (const auto& [subject, shown] : cases) {
    const std::string json =
        formatReport(ReportFormat::json, {{"1", subject, Result::clean, "", {}, "", {}}}, {});
    EXPECT_NE(std::string::npos, json.find("\"subject\":\"" + shown + "\",")) << json;
  }
}

// Text from mail must not drive the terminal: C0, DEL and C1 controls (raw or
// in UTF-8) are shown as '?', letters in UTF-8 or Latin-1 pass.
TEST(TerminalText, ControlsBecomeQuestionMarks) {
  const std::pair<std::string, std::string> cases[] = {
      {"a\x1b[2Jb\x07\x7f", "a?[2Jb??"},
      {"\xc2\x9b[31m \x9b[31m", "?[31m ?[31m"},
      {"caf\xc3\xa9 caf\xe9 \xc2\xa0\xff", "caf\xc3\xa9 caf\xe9 \xc2\xa0\xff"},
  };
  for (const auto& [text, shown] : cases) EXPECT_EQ(shown, terminalText(text)) << text;
}

TEST(ProgressBar, Ends) {
  EXPECT_EQ("[##..] 5/8", progressBar(5, 8, 4));
  EXPECT_EQ("[####] 0/0", progressBar(0, 0, 4));
}

}  // namespace
}  // namespace zentry::host
