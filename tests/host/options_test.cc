#include "host/options.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

namespace zentry::host {
namespace {

// "mode input rules mailbox jobs format [log]", or "error" with the reason.
std::string parsed(const std::string& line) {
  std::vector<std::string> arguments;
  std::istringstream words(line);
  for (std::string word; words >> word;) arguments.push_back(word);
  Options o;
  std::string error;
  if (!parseOptions(arguments, &o, &error)) return error.empty() ? "error without reason" : "error";
  static const char* modes[] = {"run", "replay", "explain", "help", "version"};
  static const char* formats[] = {"text", "csv", "json"};
  return std::string(modes[static_cast<int>(o.mode)]) + " " + o.input + " " + o.rules + " " + o.mailbox +
         " " + std::to_string(o.jobs) + " " + formats[static_cast<int>(o.format)] +
         (o.debug ? " debug" : "") + (o.logFile.empty() ? "" : " " + o.logFile);
}

TEST(ParseOptions, Table) {
  const std::pair<const char*, const char*> cases[] = {
      {"m.eml r.dat box", "run m.eml r.dat box 0 text"},
      {"- r.dat box --errorlevel", "run - r.dat box 0 text"},
      {"--log z.log m r box", "run m r box 0 text debug z.log"},
      {"m.eml r.dat", "error"},
      {"--replay x.mbox r.dat", "replay x.mbox r.dat infected 0 text"},
      {"--replay -j3 x r --format csv", "replay x r infected 3 csv"},
      {"--replay --jobs=2 --format=json x r q", "replay x r q 2 json"},
      {"--replay -j 4 x r", "replay x r infected 4 text"},
      {"--replay - r", "error"},
      {"--replay -j0 x r", "error"},
      {"--replay -jx x r", "error"},
      {"--replay --format xml x r", "error"},
      {"--explain m r", "explain m r infected 0 text"},
      {"--explain m -", "error"},
      // The log is the trace of a single run.
      {"--explain --log z.log m r", "error"},
      {"--replay --log=z.log x r", "error"},
      // After "--" everything is an operand, so a mailbox may start with "-".
      {"m r -- -box", "run m r -box 0 text"},
      {"m r -box", "error"},
      {"m r box --log", "error"},
      {"m r box extra", "error"},
      {"m --help", "help   infected 0 text"},
  };
  for (const auto& [line, expected] : cases) EXPECT_EQ(expected, parsed(line)) << line;
}

}  // namespace
}  // namespace zentry::host
