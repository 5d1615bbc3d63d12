#include "host/filter_trace.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "support/e2e.h"

namespace zentry::host {
namespace {

using test::crlf;

const std::string banner = crlf("Zentry V1.3 - banner\nnotice\n");

struct TraceCase {
  const char* name;
  std::string output;
  std::optional<std::string> rawSubject;
  bool hit;
  std::string label;
  std::optional<std::string> matched;
  std::vector<std::string> names;
  std::size_t scannerLines;
};

TEST(ParseFilterOutput, Verdicts) {
  const std::string label100(100, 'L');
  const std::string label150 = label100 + std::string(50, 'M');
  const TraceCase cases[] = {
      {"no hit",
       banner + crlf("ProcessFile2 4 - 4294967294\nProcess MIME Part 0\ntext/plain\n\nSubject - Hi\n"
                     "Attachment - File0.tmp\n"),
       "Hi",
       false,
       "",
       std::nullopt,
       {"File0.tmp"},
       3},
      {"hit by name",
       banner + crlf("\nSubject - Hi\nAttachment - a.exe\nTo: box\n"
                     "Subject: Infected (Exe) - Hi\nFound suspect file - a.exe (Exe)\n"),
       "Hi",
       true,
       "Exe",
       "a.exe",
       {"a.exe"},
       0},
      {"hit by subject alone",
       banner + crlf("\nSubject - Hi\nTo: box\nSubject: Infected (S) - Hi\n"
                     "Found suspect file -  (S)\n"),
       "Hi",
       true,
       "S",
       std::nullopt,
       {},
       0},
      {"label and name holding the separators",
       banner + crlf("\nSubject - x) - y\nAttachment - a (b).exe\nTo: box\n"
                     "Subject: Infected (A) - B) - x) - y\nFound suspect file - a (b).exe (A) - B)\n"),
       "x) - y",
       true,
       "A) - B",
       "a (b).exe",
       {"a (b).exe"},
       0},
      {"empty label, no subject",
       banner + crlf("\nSubject - \nTo: box\nSubject: Infected () - \n"
                     "Found suspect file -  ()\n"),
       std::nullopt,
       true,
       "",
       std::nullopt,
       {},
       0},
      // The verdict shows 100 bytes of the label, the trace 200.
      {"long label",
       banner + crlf("\nSubject - s\nAttachment - n\nTo: box\nSubject: Infected (" + label100 +
                     ") - s\nFound suspect file - n (" + label150 + ")\n"),
       "s",
       true,
       label150,
       "n",
       {"n"},
       0},
      {"subject with a line break, printed as a space",
       banner + crlf("\nSubject - a b\nTo: box\nSubject: Infected (S) - a b\nFound suspect file -  (S)\n"),
       "a\rb",
       true,
       "S",
       std::nullopt,
       {},
       0},
      {"hit without trace (log not opened)",
       banner + crlf("To: box\nSubject: Infected (S) - Hi\n"),
       "Hi",
       true,
       "S",
       std::nullopt,
       {},
       0},
      // Content types are printed as they stand: a message can imitate any
      // line, but only in the scanner's part, before the real subject block.
      {"imitated lines in the scanner trace",
       banner + crlf("Process MIME Part 0\nAttachment - fake.exe\nProcess MIME Part 1\nTo: box\n"
                     "\nSubject - Hi\nAttachment - real.txt\n"),
       "Hi",
       false,
       "",
       std::nullopt,
       {"real.txt"},
       4},
  };
  for (const TraceCase& c : cases) {
    const FilterTrace trace = parseFilterOutput(c.output, c.rawSubject);
    EXPECT_EQ(c.hit, trace.hit) << c.name;
    EXPECT_EQ(c.label, trace.label) << c.name;
    EXPECT_EQ(c.matched, trace.matchedName) << c.name;
    EXPECT_EQ(c.names, trace.names) << c.name;
    EXPECT_EQ(c.scannerLines, trace.scannerLines.size()) << c.name;
  }
}

TEST(ParseFilterOutput, TraceMissingWithoutSubjectBlock) {
  const FilterTrace trace = parseFilterOutput(banner + crlf("Attachment - a\n"), "x");
  EXPECT_FALSE(trace.traced);
  EXPECT_TRUE(trace.names.empty());
}

}  // namespace
}  // namespace zentry::host
