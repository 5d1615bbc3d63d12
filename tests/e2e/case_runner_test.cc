// Runs every end-to-end case under tests/testdata/e2e/<group>/*.case through
// the built zentry binary, one gtest per case (named <group>_<file>). The case
// format is in tests/testdata/e2e/README.md. Every run is killed after a few
// seconds, so a looping filter fails fast; a mismatch prints a line diff.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "support/case_file.h"
#include "support/e2e.h"
#include "support/output_check.h"
#include "support/table.h"

namespace zentry::test {
namespace {

namespace fs = std::filesystem;

// A line made readable: control bytes escaped, long lines cut.
std::string shown(const std::string& line) {
  return visible(line.substr(0, 160)) +
         (line.size() > 160 ? "... (" + std::to_string(line.size()) + " bytes)" : "");
}

std::vector<std::string> splitAfterLf(const std::string& text) {
  std::vector<std::string> lines;
  for (std::size_t start = 0, end; start < text.size(); start = end) {
    end = std::min(text.find('\n', start), text.size() - 1) + 1;
    lines.push_back(text.substr(start, end - start));
  }
  return lines;
}

// From two lines before the first line that differs, up to 40 lines of each
// side: "-" expected, "+" actual, with line numbers.
std::string lineDiff(const std::string& expected, const std::string& actual) {
  const std::vector<std::string> e = splitAfterLf(expected), a = splitAfterLf(actual);
  std::size_t head = 0;
  while (head < e.size() && head < a.size() && e[head] == a[head]) ++head;
  std::ostringstream out;
  for (std::size_t i = head > 2 ? head - 2 : 0; i < head; ++i)
    out << "  " << i + 1 << "  " << shown(e[i]) << "\n";
  for (const auto& [lines, mark] : {std::pair{&e, "-"}, std::pair{&a, "+"}}) {
    for (std::size_t i = head; i < lines->size() && i < head + 40; ++i)
      out << mark << " " << i + 1 << "  " << shown((*lines)[i]) << "\n";
    if (lines->size() > head + 40) out << mark << " ... " << lines->size() - head - 40 << " more lines\n";
  }
  return out.str();
}

void expectBytes(const Case& c, const char* what, const std::string& expected, const std::string& actual) {
  if (expected == actual) return;
  ADD_FAILURE() << c.path << ": " << what << " differs (- expected, + actual, line numbers):\n"
                << lineDiff(expected, actual);
}

void runCase(const Case& c) {
  ASSERT_EQ("", c.problem) << c.path;
  TempDir dir;
  for (const std::string& directory : c.directories) fs::create_directory(dir.path() + "/" + directory);
  for (const auto& [name, bytes] : c.files) dir.write(name, bytes);
  const bool logBefore = dir.exists("zentry.log");
  const std::string earlierLog = dir.read("zentry.log");

  const RunResult run = runBinary(dir, c.arguments, c.environment);
  ASSERT_FALSE(run.timedOut) << c.path << ": killed after " << runTimeLimitSeconds << " seconds";
  expectBytes(c, "standard output", c.expected.at("stdout"), run.output);
  const auto log = c.expected.find("log");
  if (log == c.expected.end()) {
    EXPECT_EQ(logBefore, dir.exists("zentry.log")) << c.path << ": zentry.log appeared or vanished";
  }
  expectBytes(c, "zentry.log", log == c.expected.end() ? earlierLog : log->second, dir.read("zentry.log"));
  EXPECT_EQ(c.exitCode, run.exitCode) << c.path << ": exit code";
}

std::vector<std::string> casePaths() {
  std::vector<std::string> paths;
  for (const auto& entry : fs::recursive_directory_iterator(ZENTRY_TESTDATA "/e2e"))
    if (entry.path().extension() == ".case") paths.push_back(entry.path().string());
  std::sort(paths.begin(), paths.end());
  return paths;
}

class EndToEnd : public testing::TestWithParam<std::string> {};

TEST_P(EndToEnd, Case) {
  const Case c = readCase(GetParam());
  SCOPED_TRACE(c.description);
  runCase(c);
}

std::string caseName(const testing::TestParamInfo<std::string>& info) {
  const fs::path path(info.param);
  std::string name = path.parent_path().filename().string() + "_" + path.stem().string();
  for (char& ch : name)
    if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
  return name;
}

INSTANTIATE_TEST_SUITE_P(Files, EndToEnd, testing::ValuesIn(casePaths()), caseName);

}  // namespace
}  // namespace zentry::test
