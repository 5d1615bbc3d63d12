#include "host/options.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace zentry::host {
namespace {

using Mode = Options::Mode;

struct OptionCase {
  std::vector<std::string> arguments;
  bool ok;
  Mode mode;
  std::string input, rules, mailbox;
  unsigned jobs;
  ReportFormat format;
};

TEST(ParseOptions, Table) {
  const OptionCase cases[] = {
      {{"m.eml", "r.dat", "box"}, true, Mode::run, "m.eml", "r.dat", "box", 0, ReportFormat::text},
      {{"-", "r.dat", "box", "--errorlevel"}, true, Mode::run, "-", "r.dat", "box", 0, ReportFormat::text},
      {{"m.eml", "r.dat"}, false, Mode::run, "", "", "", 0, ReportFormat::text},
      {{"--replay", "x.mbox", "r.dat"},
       true,
       Mode::replay,
       "x.mbox",
       "r.dat",
       "infected",
       0,
       ReportFormat::text},
      {{"--replay", "-j3", "x", "r", "--format", "csv"},
       true,
       Mode::replay,
       "x",
       "r",
       "infected",
       3,
       ReportFormat::csv},
      {{"--replay", "--jobs=2", "--format=json", "x", "r", "q"},
       true,
       Mode::replay,
       "x",
       "r",
       "q",
       2,
       ReportFormat::json},
      {{"--replay", "-j", "4", "x", "r"}, true, Mode::replay, "x", "r", "infected", 4, ReportFormat::text},
      {{"--replay", "-", "r"}, false, Mode::replay, "", "", "", 0, ReportFormat::text},
      {{"--replay", "-j0", "x", "r"}, false, Mode::replay, "", "", "", 0, ReportFormat::text},
      {{"--replay", "-jx", "x", "r"}, false, Mode::replay, "", "", "", 0, ReportFormat::text},
      {{"--replay", "--format", "xml", "x", "r"}, false, Mode::replay, "", "", "", 0, ReportFormat::text},
      {{"--explain", "m", "r"}, true, Mode::explain, "m", "r", "infected", 0, ReportFormat::text},
      {{"--explain", "m", "-"}, false, Mode::explain, "", "", "", 0, ReportFormat::text},
      {{"--explain", "--log", "z.log", "m", "r"}, false, Mode::explain, "", "", "", 0, ReportFormat::text},
      {{"--replay", "--log=z.log", "x", "r"}, false, Mode::replay, "", "", "", 0, ReportFormat::text},
      // After "--" everything is an operand, so a mailbox may start with "-".
      {{"m", "r", "--", "-box"}, true, Mode::run, "m", "r", "-box", 0, ReportFormat::text},
      {{"m", "r", "-box"}, false, Mode::run, "", "", "", 0, ReportFormat::text},
      {{"m", "r", "box", "--log"}, false, Mode::run, "", "", "", 0, ReportFormat::text},
      {{"m", "r", "box", "extra"}, false, Mode::run, "", "", "", 0, ReportFormat::text},
      {{"m", "--help"}, true, Mode::help, "", "", "infected", 0, ReportFormat::text},
  };
  for (const OptionCase& c : cases) {
    Options options;
    std::string error;
    std::string joined;
    for (const std::string& a : c.arguments) joined += a + " ";
    ASSERT_EQ(c.ok, parseOptions(c.arguments, &options, &error)) << joined << error;
    if (!c.ok) {
      EXPECT_FALSE(error.empty()) << joined;
      continue;
    }
    EXPECT_EQ(c.mode, options.mode) << joined;
    EXPECT_EQ(c.input, options.input) << joined;
    EXPECT_EQ(c.rules, options.rules) << joined;
    EXPECT_EQ(c.mailbox, options.mailbox) << joined;
    EXPECT_EQ(c.jobs, options.jobs) << joined;
    EXPECT_EQ(c.format, options.format) << joined;
  }
}

TEST(ParseOptions, LogImpliesDebug) {
  Options options;
  std::string error;
  ASSERT_TRUE(parseOptions({"--log", "z.log", "m", "r", "box"}, &options, &error));
  EXPECT_TRUE(options.debug);
  EXPECT_EQ("z.log", options.logFile);
}

}  // namespace
}  // namespace zentry::host
