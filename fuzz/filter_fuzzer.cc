// The whole filter in process. The input is a flags byte, then the rule file,
// a NUL, the subject, a NUL and the stored message (the rest, NULs included).
// Each input runs three times: plain, with the trace, and with the trace
// again, and once more in the other mode (with or without the strict switch).
// The promises: every run finishes; standard output is the banner and
// complete CR LF lines; a verdict is exactly the To and Subject lines or
// absent, the same with and without the trace; the trace on standard output
// is exactly what the log received; a run repeated gives the same bytes; and
// strict mode only adds: it holds every name exact mode found, and a rule
// that hits in exact mode hits in strict mode too (so strict mode's verdict
// comes from that rule or one before it). The reading of the structure as
// clients read it runs only when strict mode's walk notes a trait where the
// two may part; run always, it must find no name more.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "filter/driver.h"
#include "fuzz_check.h"
#include "platform/console.h"
#include "scanner/strict_scan.h"
#include "support/memory_workspace.h"
#include "support/output_check.h"

namespace {

using zentry::fuzz::require;
using zentry::fuzz::visible;
using zentry::test::hasCompleteLines;
using zentry::test::splitLines;

constexpr const char* bannerLine = "Zentry V1.3 - Attachment Worm/virus protector for Movra\r\n";
constexpr const char* mailbox = "quarantine";
constexpr const char* openFailureLine = "File \"routing.dat\" can't be opened\r\n";

enum Flags : std::uint8_t {
  errorlevelFlag = 1,
  noSubjectFlag = 2,  // the variable is absent, not empty
  noMessageFlag = 4,  // routing.dat does not exist
  noRulesFlag = 8,    // zentry.dat does not exist
  strictFlag = 16,    // the strict switch
};

struct Case {
  std::uint8_t flags = 0;
  std::string rules;
  std::string subject;
  std::string message;
};

struct Run {
  std::string output;
  std::string log;
  int exitCode = 0;
  std::vector<std::string> names;
  int hitRule = -1;  // the index of the rule that hit; -1 for none
  std::size_t exactNameCount = 0;
};

// Splits at the first two NULs; missing parts are empty.
Case splitInput(const std::uint8_t* data, std::size_t size) {
  Case input;
  if (size == 0) return input;
  input.flags = data[0];
  std::string rest(reinterpret_cast<const char*>(data) + 1, size - 1);
  for (std::string* part : {&input.rules, &input.subject}) {
    const std::size_t nul = rest.find('\0');
    *part = rest.substr(0, nul);
    rest.erase(0, nul == std::string::npos ? rest.size() : nul + 1);
  }
  input.message = rest;
  return input;
}

Run runOnce(const Case& input, bool debug, bool strict) {
  zentry::test::MemoryWorkspace workspace;
  if ((input.flags & noRulesFlag) == 0) workspace.write("zentry.dat", input.rules);
  if ((input.flags & noMessageFlag) == 0) workspace.write("routing.dat", input.message);
  std::vector<std::string> arguments{"zentry", mailbox};
  if ((input.flags & errorlevelFlag) != 0) arguments.emplace_back("errorlevel");
  if (debug) arguments.emplace_back("debug");
  if (strict) arguments.emplace_back("strict");
  zentry::EnvironmentBlock environment{"PATH=/bin"};
  if ((input.flags & noSubjectFlag) == 0) environment.push_back("subject=" + input.subject);
  zentry::StringSink standardOutput;
  zentry::RunState state;
  Run run;
  run.exitCode = zentry::runZentry(arguments, environment, workspace, standardOutput, state);
  run.output = standardOutput.bytes;
  run.log = workspace.read("zentry.log");
  for (const zentry::String& name : state.attachmentNames) run.names.emplace_back(name.cStr(), name.length());
  run.exactNameCount = state.exactNameCount;
  int index = 0;
  for (const zentry::Rule& rule : state.ruleList) {
    if (&rule == state.hit.rule) run.hitRule = index;
    ++index;
  }
  return run;
}

std::string joined(const std::vector<std::string>& names) {
  std::string text;
  for (const std::string& name : names) text += visible(name) + "\n";
  return text;
}

// Strict mode only adds names, and so only adds hits. The names it takes
// for exact mode's, often from its own walk, are exact mode's, in order.
void checkStrictOnlyAdds(const Run& exact, const Run& strict) {
  const std::vector<std::string> exactPart(
      strict.names.begin(), strict.names.begin() + static_cast<std::ptrdiff_t>(
                                                       std::min(strict.exactNameCount, strict.names.size())));
  require(exactPart == exact.names, "strict mode's first names are exact mode's",
          [&] { return "--- exact\n" + joined(exact.names) + "--- strict\n" + joined(strict.names); });
  const std::set<std::string> strictNames(strict.names.begin(), strict.names.end());
  for (const std::string& name : exact.names) {
    require(strictNames.count(name) == 1, "strict mode holds every name exact mode found", [&] {
      return "missing " + visible(name) + "\n--- exact\n" + joined(exact.names) + "--- strict\n" +
             joined(strict.names);
    });
  }
  require(exact.hitRule < 0 || (strict.hitRule >= 0 && strict.hitRule <= exact.hitRule),
          "a rule that hits in exact mode hits in strict mode",
          [&] { return std::to_string(exact.hitRule) + " / " + std::to_string(strict.hitRule); });
}

std::set<std::string> strictScanNames(const std::string& message, zentry::ClientReading clientReading) {
  zentry::test::MemoryWorkspace workspace;
  workspace.write("routing.dat", message);
  zentry::StringSink discarded;
  zentry::Console console(discarded);
  zentry::AttachmentNames names;
  zentry::StrictOutcome outcome;
  std::set<std::string> found;
  if (!zentry::scanInStrictMode(workspace, zentry::String("routing.dat"), console, names, outcome,
                                clientReading))
    return found;
  for (const zentry::String& name : names) found.emplace(name.cStr(), name.length());
  return found;
}

// A message whose walk notes no trait must hold nothing the clients'
// reading of its structure would add.
void checkTraitsMissNothing(const Case& input) {
  if ((input.flags & noMessageFlag) != 0) return;
  const std::set<std::string> onTraits = strictScanNames(input.message, zentry::ClientReading::onTraits);
  const std::set<std::string> always = strictScanNames(input.message, zentry::ClientReading::always);
  require(onTraits == always, "the structure traits miss no name the clients' reading finds", [&] {
    std::string text = "--- on traits\n";
    for (const std::string& name : onTraits) text += visible(name) + "\n";
    text += "--- always\n";
    for (const std::string& name : always) text += visible(name) + "\n";
    return text;
  });
}

std::size_t lastLineStart(const std::string& text) {
  if (text.size() < 2) return 0;
  const std::size_t lf = text.rfind('\n', text.size() - 2);
  return lf == std::string::npos ? 0 : lf + 1;
}

bool startsWith(const std::string& text, const std::string& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

// The subject as the verdict prints it: cut to 100 bytes, line ends blanked.
std::string verdictSubject(const Case& input) {
  if ((input.flags & noSubjectFlag) != 0) return "";
  std::string shown = input.subject.substr(0, 100);
  for (char& byte : shown) {
    if (byte == '\r' || byte == '\n') byte = ' ';
  }
  return shown;
}

// Checks the plain run and returns its verdict lines (empty when none hit).
std::string checkPlainRun(const Case& input, const Run& run) {
  const auto detail = [&] { return visible(run.output); };
  require(hasCompleteLines(run.output), "output is complete CR LF lines", detail);
  require(run.log.empty(), "no log without debug", [&] { return visible(run.log); });
  std::vector<std::string> lines = splitLines(run.output);
  require(lines.size() >= 2 && lines[0] == bannerLine, "two banner lines", detail);
  std::size_t next = 2;
  if ((input.flags & noMessageFlag) != 0) {
    require(lines.size() > 2 && lines[2] == openFailureLine, "missing message reported", detail);
    next = 3;
  }
  const std::size_t verdictLines = lines.size() - next;
  require(verdictLines == 0 || verdictLines == 2, "a verdict is two lines or none", detail);
  const bool hit = verdictLines == 2;
  require(run.exitCode == (hit && (input.flags & errorlevelFlag) != 0 ? 1 : 0),
          "exit code follows the verdict", detail);
  if (!hit) return "";
  const std::string& to = lines[next];
  const std::string& subject = lines[next + 1];
  require(to == std::string("To: ") + mailbox + "\r\n", "To line names the mailbox", detail);
  const std::string subjectEnd = ") - " + verdictSubject(input) + "\r\n";
  require(startsWith(subject, "Subject: Infected (") && subject.size() >= subjectEnd.size() &&
              subject.compare(subject.size() - subjectEnd.size(), subjectEnd.size(), subjectEnd) == 0,
          "Subject line carries the raw subject", detail);
  return to + subject;
}

// With the trace on, standard output is the banner, the open failure if any,
// and the log's text with the verdict put in before its last line.
void checkTracedRun(const Case& input, const Run& run, const std::string& verdict, int plainExitCode) {
  const auto detail = [&] { return visible(run.output) + "\n--- log\n" + visible(run.log); };
  require(hasCompleteLines(run.log), "log is complete CR LF lines", detail);
  require(run.exitCode == plainExitCode, "the trace does not change the exit code", detail);
  const std::size_t bannerEnd = run.output.find('\n', std::string(bannerLine).size());
  require(startsWith(run.output, bannerLine) && bannerEnd != std::string::npos,
          "banner present with the trace", detail);
  std::string expected = run.output.substr(0, bannerEnd + 1);
  if ((input.flags & noMessageFlag) != 0) expected += openFailureLine;
  if (verdict.empty()) {
    expected += run.log;
  } else {
    const std::size_t found = lastLineStart(run.log);
    require(run.log.compare(found, 21, "Found suspect file - ") == 0, "a hit ends the log", detail);
    expected += run.log.substr(0, found) + verdict + run.log.substr(found);
  }
  require(run.output == expected, "standard output is the trace plus the verdict", detail);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // Long lines need 10 KB; beyond a few of them more bytes add time, not paths.
  if (size > 64 * 1024) return 0;
  const Case input = splitInput(data, size);
  const bool strict = (input.flags & strictFlag) != 0;
  const Run plain = runOnce(input, false, strict);
  const std::string verdict = checkPlainRun(input, plain);
  const Run other = runOnce(input, false, !strict);
  checkPlainRun(input, other);
  checkStrictOnlyAdds(strict ? other : plain, strict ? plain : other);
  if (strict) checkTraitsMissNothing(input);
  const Run traced = runOnce(input, true, strict);
  checkTracedRun(input, traced, verdict, plain.exitCode);
  const Run again = runOnce(input, true, strict);
  require(again.output == traced.output && again.log == traced.log && again.exitCode == traced.exitCode,
          "a repeated run gives the same bytes",
          [&] { return visible(traced.output) + "\n--- again\n" + visible(again.output); });
  return 0;
}
