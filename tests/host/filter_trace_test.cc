#include "host/filter_trace.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "support/e2e.h"

namespace zentry::host {
namespace {

// "hit <label> / <matched name or ->" or "clean", then the names and the
// number of scanner lines: one line that a table row can spell out.
std::string summary(const FilterTrace& trace) {
  std::string text = trace.hit ? "hit " + trace.label + " / " + trace.matchedName.value_or("-") : "clean";
  for (const std::string& name : trace.names) text += " [" + name + "]";
  return text + " " + std::to_string(trace.scannerLines.size());
}

TEST(ParseFilterOutput, Table) {
  const std::string label100(100, 'L'), label150 = label100 + std::string(50, 'M');
  const struct {
    std::string tail;  // the output after the banner, LF for CR LF
    std::optional<std::string> rawSubject;
    std::string summary;
  } cases[] = {
      {"ProcessFile2 4 - 4294967294\nProcess MIME Part 0\ntext/plain\n\nSubject - Hi\nAttachment - "
       "File0.tmp\n",
       "Hi", "clean [File0.tmp] 3"},
      {"\nSubject - Hi\nAttachment - a.exe\nTo: box\nSubject: Infected (Exe) - Hi\n"
       "Found suspect file - a.exe (Exe)\n",
       "Hi", "hit Exe / a.exe [a.exe] 0"},
      {"\nSubject - Hi\nTo: box\nSubject: Infected (S) - Hi\nFound suspect file -  (S)\n", "Hi",
       "hit S / - 0"},
      // Label, name and subject holding the separators.
      {"\nSubject - x) - y\nAttachment - a (b).exe\nTo: box\nSubject: Infected (A) - B) - x) - y\n"
       "Found suspect file - a (b).exe (A) - B)\n",
       "x) - y", "hit A) - B / a (b).exe [a (b).exe] 0"},
      {"\nSubject - \nTo: box\nSubject: Infected () - \nFound suspect file -  ()\n", std::nullopt,
       "hit  / - 0"},
      // The verdict shows 100 bytes of the label, the trace 200.
      {"\nSubject - s\nAttachment - n\nTo: box\nSubject: Infected (" + label100 +
           ") - s\nFound suspect file - n (" + label150 + ")\n",
       "s", "hit " + label150 + " / n [n] 0"},
      // A line break in the subject is printed as a space.
      {"\nSubject - a b\nTo: box\nSubject: Infected (S) - a b\nFound suspect file -  (S)\n", "a\rb",
       "hit S / - 0"},
      // No trace when the log could not be opened.
      {"To: box\nSubject: Infected (S) - Hi\n", "Hi", "hit S / - 0"},
      // Content types are printed as they stand: a message can imitate any
      // line, but only in the scanner's part, before the real subject block.
      {"Process MIME Part 0\nAttachment - fake.exe\nProcess MIME Part 1\nTo: box\n\nSubject - Hi\n"
       "Attachment - real.txt\n",
       "Hi", "clean [real.txt] 4"},
      {"Attachment - a\n", "x", "clean 0"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.summary, summary(parseFilterOutput(test::crlf("B\nN\n" + c.tail), c.rawSubject))) << c.tail;
  }
}

}  // namespace
}  // namespace zentry::host
