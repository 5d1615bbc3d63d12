#include "host/explain.h"

#include <algorithm>
#include <cstdio>

#include "core/rule.h"
#include "filter/rule_file.h"
#include "filter/rule_matcher.h"
#include "host/exit_codes.h"
#include "host/host_inputs.h"
#include "host/in_process_scan.h"
#include "host/message_run.h"
#include "host/message_text.h"
#include "host/name_origins.h"
#include "host/terminal_text.h"
#include "platform/held_workspace.h"
#include "platform/replay_workspace.h"

namespace zentry::host {
namespace {

std::string quoted(const std::string& text) { return "\"" + terminalText(text) + "\""; }

// The trace prints labels cut at 200 bytes.
constexpr std::size_t tracedLabelLimit = 200;
// The filter reads a rules line in pieces of at most 999 bytes.
constexpr std::size_t ruleLineLimit = 999;

bool labelShows(const Rule& rule, const std::string& tracedLabel) {
  return std::string(rule.label.cStr()).substr(0, tracedLabelLimit) == tracedLabel;
}

// Which rule hit, with its masks. The filter's own loader and matcher run
// over the traced subject and names, so the rule number is the filter's; the
// trace cuts names at 200 bytes, so when that leads elsewhere than the
// filter's verdict, the first rule with the verdict's label is shown.
std::string describeHit(const std::string& rulesFile, const FilterTrace& trace) {
  HeldWorkspace workspace;
  workspace.hold("zentry.dat", rulesFile);
  RuleList rules;
  loadRules(workspace, rules);
  AttachmentNames names;
  for (const std::string& name : trace.names) names.pushBack(String(name.c_str()));
  const String subject(trace.subjectText.c_str());
  const Rule* chosen = findHit(rules, names, subject).rule;
  if (chosen == nullptr || !labelShows(*chosen, trace.label)) {
    chosen = nullptr;
    for (const Rule& rule : rules) {
      if (labelShows(rule, trace.label)) {
        chosen = &rule;
        break;
      }
    }
  }
  std::size_t number = 1;
  for (const Rule& rule : rules) {
    if (&rule == chosen) break;
    ++number;
  }
  std::string text = "Rule " + (chosen != nullptr ? std::to_string(number) + " " : std::string()) + "hits\n";
  text += "  label:        " + quoted(chosen != nullptr ? chosen->label.cStr() : trace.label) + "\n";
  if (chosen != nullptr) {
    text += "  subject mask: " + quoted(chosen->subjectMask.cStr()) + "\n";
    text += "  file mask:    " + quoted(chosen->fileMask.cStr()) + "\n";
  }
  text += "  matched:      " + (trace.matchedName ? terminalText(*trace.matchedName) : "the subject alone") +
          "\n";
  return text;
}

// A line longer than the filter reads at once becomes two or more lines of
// the rules, which shifts every rule after it: worth a word when it happens.
std::string longLineNote(const std::string& rules) {
  std::size_t number = 1;
  for (std::size_t start = 0; start < rules.size(); ++number) {
    std::size_t end = std::min(rules.find('\n', start), rules.size());
    const std::size_t next = end + 1;
    if (end > start && rules[end - 1] == '\r') --end;
    if (end - start > ruleLineLimit) {
      return "Note: line " + std::to_string(number) + " of the rules file is longer than " +
             std::to_string(ruleLineLimit) +
             " bytes; the filter reads each piece of it as a line of its own.\n";
    }
    start = next;
  }
  return "";
}

}  // namespace

// Everything shown comes from the mail or the rules, so it passes
// terminalText: an escape sequence in a name must not rewrite the screen.
std::string formatExplanation(const FilterTrace& trace, const std::vector<std::string>& origins,
                              const std::string& ruleLines) {
  std::string text = "Subject as matched: " + terminalText(trace.subjectText) + "\n";
  text += "Names (" + std::to_string(trace.names.size()) + "):\n";
  std::vector<std::string> names;
  std::size_t width = 0;
  for (const std::string& name : trace.names) {
    names.push_back(terminalText(name));
    width = std::max(width, names.back().size());
  }
  for (std::size_t i = 0; i < names.size(); ++i) {
    std::string line = "  " + std::to_string(i + 1) + ". " + names[i];
    if (i < origins.size() && !origins[i].empty()) {
      line += std::string(width - names[i].size() + 2, ' ') + terminalText(origins[i]);
    }
    text += line + "\n";
  }
  if (!trace.hit) return text + "No rule hits.\n";
  return text + ruleLines;
}

int runExplain(const Options& options) {
  int exitCode = exitClean;
  std::string message;
  HostInputs inputs;
  if (!loadMessageRun(options, &message, &inputs, &exitCode)) return exitCode;
  const SubjectField subject = extractSubject(message);
  installSignalHandlers();
  std::vector<std::string> arguments{options.mailbox, "debug"};
  if (options.strict) arguments.emplace_back("strict");
  FilterResult result;
  if (options.isolate) {
    const std::unique_ptr<WorkDir> dir = makeRulesDirectory(inputs.rules);
    if (dir == nullptr) return exitTempFail;
    result = runMessage(*dir, inputs.filterPath, message, subject.value, arguments, 0);
  } else {
    const std::string stored = routingFileBytes(message);
    ReplayWorkspace files;
    files.hold("routing.dat", stored);
    files.hold("zentry.dat", inputs.rules);
    useArchiveListerProcess();
    result = scanInProcess(files, subject.value, arguments);
  }
  if (result.status != FilterResult::Status::exited || result.exitCode != 0) {
    complain(result.status == FilterResult::Status::notStarted ? result.error : "the filter failed");
    if (result.status != FilterResult::Status::notStarted) return exitSoftware;
    return result.unusable ? exitConfig : exitTempFail;
  }
  const FilterTrace trace = parseFilterOutput(result.output, subject.value);
  if (!trace.traced) {
    complain("the filter's output holds no trace (could it write zentry.log?)");
    return exitSoftware;
  }
  const std::string text =
      formatExplanation(trace, inferNameOrigins(trace.scannerLines, trace.names, message),
                        trace.hit ? describeHit(inputs.rules, trace) : std::string()) +
      longLineNote(inputs.rules);
  reraiseIfInterrupted();
  if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size() || std::fflush(stdout) != 0) {
    complain("cannot write standard output");
    return exitIoError;
  }
  return exitClean;
}

}  // namespace zentry::host
