#include "host/explain.h"

#include <cstdio>

#include "core/rule.h"
#include "filter/rule_file.h"
#include "filter/rule_matcher.h"
#include "host/exit_codes.h"
#include "host/host_inputs.h"
#include "host/message_run.h"
#include "host/message_text.h"
#include "host/name_origins.h"
#include "platform/workspace.h"

namespace zentry::host {
namespace {

std::string quoted(const char* text) { return std::string("\"") + text + "\""; }

// Which rule hit, with its masks. The filter's own loader and matcher run
// over the traced subject and names, so the rule number is the filter's; the
// trace cuts names at 200 bytes, so when that leads elsewhere than the
// filter's verdict, the first rule with the verdict's label is shown.
std::string describeHit(const WorkDir& dir, const FilterTrace& trace) {
  const std::unique_ptr<Workspace> workspace = makeDirectoryWorkspace(dir.path().c_str());
  RuleList rules;
  loadRules(*workspace, rules);
  AttachmentNames names;
  for (const std::string& name : trace.names) names.pushBack(String(name.c_str()));
  const String subject(trace.subjectText.c_str());
  const Rule* chosen = findHit(rules, names, subject).rule;
  if (chosen == nullptr || trace.label != chosen->label.cStr()) {
    chosen = nullptr;
    for (const Rule& rule : rules) {
      if (trace.label == rule.label.cStr()) {
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
  text += "  label:        " + quoted(trace.label.c_str()) + "\n";
  if (chosen != nullptr) {
    text += "  subject mask: " + quoted(chosen->subjectMask.cStr()) + "\n";
    text += "  file mask:    " + quoted(chosen->fileMask.cStr()) + "\n";
  }
  text +=
      "  matched:      " + (trace.matchedName ? *trace.matchedName : std::string("the subject alone")) + "\n";
  return text;
}

}  // namespace

std::string formatExplanation(const FilterTrace& trace, const std::vector<std::string>& origins,
                              const std::string& ruleLines) {
  std::string text = "Subject as matched: " + trace.subjectText + "\n";
  text += "Names (" + std::to_string(trace.names.size()) + "):\n";
  std::size_t width = 0;
  for (const std::string& name : trace.names) width = std::max(width, name.size());
  for (std::size_t i = 0; i < trace.names.size(); ++i) {
    std::string line = "  " + std::to_string(i + 1) + ". " + trace.names[i];
    if (i < origins.size() && !origins[i].empty()) {
      line += std::string(width - trace.names[i].size() + 2, ' ') + origins[i];
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
  std::string text;
  {
    const std::unique_ptr<WorkDir> dir = makeRulesDirectory(inputs.rules);
    if (dir == nullptr) return exitTempFail;
    std::vector<std::string> arguments{options.mailbox, "debug"};
    if (options.strict) arguments.emplace_back("strict");
    const FilterResult result = runMessage(*dir, inputs.filterPath, message, subject.value, arguments, 0);
    if (result.status != FilterResult::Status::exited || result.exitCode != 0) {
      complain(result.status == FilterResult::Status::notStarted ? result.error : "the filter failed");
      return result.status == FilterResult::Status::notStarted ? exitTempFail : exitSoftware;
    }
    const FilterTrace trace = parseFilterOutput(result.output, subject.value);
    if (!trace.traced) {
      complain("the filter's output holds no trace (could it write zentry.log?)");
      return exitSoftware;
    }
    text = formatExplanation(trace, inferNameOrigins(trace.scannerLines, trace.names, message),
                             trace.hit ? describeHit(*dir, trace) : std::string());
  }
  reraiseIfInterrupted();
  if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size() || std::fflush(stdout) != 0) {
    complain("cannot write standard output");
    return exitIoError;
  }
  return exitClean;
}

}  // namespace zentry::host
