#pragma once

#include <optional>
#include <string>
#include <vector>

namespace zentry::host {

/// What one debug run of the filter said, read back from its standard output.
struct FilterTrace {
  bool hit = false;
  std::string label;                       ///< of the hitting rule (cut to 200 bytes by the filter)
  std::optional<std::string> matchedName;  ///< none for a rule without file mask
  bool traced = false;                     ///< the trace (subject and names) was found
  std::string subjectText;                 ///< the subject as matched: trimmed and decoded
  std::vector<std::string> names;          ///< attachment names, in the filter's order
  std::vector<std::string> scannerLines;   ///< the scanner's own trace lines
};

/// Parses the output of a run with "debug". The trace is read from the end
/// backwards, because the scanner's lines quote message text (content types)
/// that could imitate any line, while the subject block, the names and the
/// verdict are always the last lines. `rawSubject` is the value the filter was
/// given: knowing it makes the label in the verdict line unambiguous.
FilterTrace parseFilterOutput(const std::string& output, const std::optional<std::string>& rawSubject);

/// What the filter appends to its log in a run that printed `output`: the
/// same trace lines, without the banner lines and the verdict, which go to
/// standard output only. A log that differs was not written whole.
std::string expectedLog(const std::string& output);

}  // namespace zentry::host
