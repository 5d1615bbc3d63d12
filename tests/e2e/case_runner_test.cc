// Runs every end-to-end case under tests/testdata/e2e/<group>/*.case through
// the built zentry binary, one gtest per case (named <group>_<file>). The case
// format is in tests/testdata/e2e/README.md. Every run is killed after a few
// seconds, so a looping filter fails fast; a mismatch prints a line diff.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "support/e2e.h"
#include "support/output_check.h"
#include "support/table.h"

namespace zentry::test {
namespace {

namespace fs = std::filesystem;

struct Section {
  std::vector<std::string> options;  // words after the section name
  std::vector<std::string> lines;    // as written, escapes not yet applied
};

struct Case {
  std::string path;
  std::string description;
  std::vector<std::string> arguments;
  std::vector<std::string> environment;
  std::vector<std::string> directories;
  int exitCode = 0;
  std::vector<std::pair<std::string, Section>> sections;  // in file order
  std::string problem;                                    // a malformed case file
};

std::vector<std::string> words(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string word; in >> word;) out.push_back(word);
  return out;
}

// The bytes of a section: escapes applied, each line ended by `lineEnd`.
std::string sectionBytes(const Section& section, const std::string& lineEnd, std::string& problem) {
  std::string out;
  for (const std::string& written : section.lines) {
    std::string line = written;
    std::size_t times = 1;
    if (line.rfind("\\{", 0) == 0 && line.find('}') != std::string::npos &&
        line.find_first_not_of("0123456789", 2) == line.find('}')) {
      times = std::stoul(line.substr(2));
      line.erase(0, line.find('}') + 1);
    }
    bool noLineEnd = false;
    std::size_t at = 0;
    std::string bytes = unescape(line, at, '\0', noLineEnd, problem);
    if (!noLineEnd) bytes += lineEnd;
    for (std::size_t i = 0; i < times; ++i) out += bytes;
  }
  return out;
}

bool hasOption(const Section& section, const std::string& option) {
  return std::find(section.options.begin(), section.options.end(), option) != section.options.end();
}

Case readCase(const std::string& path) {
  Case c;
  c.path = path;
  std::ifstream file(path, std::ios::binary);
  std::string line;
  std::getline(file, c.description);
  Section* current = nullptr;
  while (std::getline(file, line)) {
    if (line.rfind("=== ", 0) == 0) {
      std::vector<std::string> header = words(line.substr(4));
      if (header.empty()) header.push_back("");
      c.sections.push_back({header[0], Section{{header.begin() + 1, header.end()}, {}}});
      current = &c.sections.back().second;
    } else if (current != nullptr) {
      current->lines.push_back(line);
    } else if (line.empty() || line[0] == '#') {
      continue;
    } else {
      const std::size_t colon = line.find(": ");
      const std::string key = line.substr(0, std::min(colon, line.find(':')));
      const std::string value = colon == std::string::npos ? "" : line.substr(colon + 2);
      bool ignored = false;
      std::size_t at = 0;
      if (key == "args") {
        for (const std::string& word : words(value)) {
          at = 0;
          c.arguments.push_back(word == "\"\"" ? "" : unescape(word, at, '\0', ignored, c.problem));
        }
      } else if (key == "subject") {
        c.environment.push_back("subject=" + unescape(value, at, '\0', ignored, c.problem));
      } else if (key == "env") {
        c.environment.push_back(unescape(value, at, '\0', ignored, c.problem));
      } else if (key == "dir") {
        c.directories.push_back(value);
      } else if (key == "exit") {
        c.exitCode = std::stoi(value);
      } else {
        c.problem = "unknown header line: " + line;
      }
    }
  }
  return c;
}

// A line made readable: control bytes escaped, long lines cut.
std::string shown(const std::string& line) {
  return visible(line.substr(0, 160)) + (line.size() > 160 ? "... (" + std::to_string(line.size()) + " bytes)" : "");
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
  for (std::size_t i = head > 2 ? head - 2 : 0; i < head; ++i) out << "  " << i + 1 << "  " << shown(e[i]) << "\n";
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
  std::string problem;
  const Section* stdoutSection = nullptr;
  const Section* logSection = nullptr;
  for (const auto& [name, section] : c.sections) {
    const std::string lineEnd = hasOption(section, "crlf") ? "\r\n" : "\n";
    if (name == "rules") dir.write("zentry.dat", sectionBytes(section, lineEnd, problem));
    else if (name == "message")
      dir.write("routing.dat", (hasOption(section, "raw") ? "" : "XXXX") + sectionBytes(section, lineEnd, problem));
    else if (name == "file" && !section.options.empty())
      dir.write(section.options[0], sectionBytes(section, lineEnd, problem));
    else if (name == "stdout") stdoutSection = &section;
    else if (name == "log") logSection = &section;
    else problem = "unknown section: " + name;
  }
  ASSERT_EQ("", problem) << c.path;
  ASSERT_NE(nullptr, stdoutSection) << c.path << ": no stdout section";
  const bool logBefore = dir.exists("zentry.log");
  const std::string earlierLog = dir.read("zentry.log");

  const RunResult run = runBinary(dir, c.arguments, c.environment);
  ASSERT_FALSE(run.timedOut) << c.path << ": killed after " << runTimeLimitSeconds << " seconds";
  expectBytes(c, "standard output", sectionBytes(*stdoutSection, "\r\n", problem), run.output);
  if (logSection != nullptr) expectBytes(c, "zentry.log", sectionBytes(*logSection, "\r\n", problem), dir.read("zentry.log"));
  else {
    EXPECT_EQ(logBefore, dir.exists("zentry.log")) << c.path << ": zentry.log appeared or vanished";
    expectBytes(c, "zentry.log", earlierLog, dir.read("zentry.log"));
  }
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
