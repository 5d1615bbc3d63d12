#include "filter/driver.h"

#include <optional>

#include "filter/rule_file.h"
#include "filter/rule_matcher.h"
#include "platform/console.h"
#include "scanner/encoded_text.h"
#include "scanner/encoded_word.h"
#include "scanner/message_file.h"
#include "scanner/strict_scan.h"

namespace zentry {
namespace {

// Names past the first `exactNames` are strict mode's own: they may hold any
// byte a listing or a decoder gives, so their control bytes are shown.
void traceSubjectAndNames(Console& console, const String& subjectText, const AttachmentNames& names,
                          std::size_t exactNames) {
  console.trace("\nSubject - %.200s\n", subjectText.cStr());
  std::size_t index = 0;
  for (const String& name : names) {
    if (index++ < exactNames) {
      console.trace("Attachment - %.200s\n", name.cStr());
    } else {
      console.trace("Attachment - %.200s\n", withControlsVisible(name.cStr()).c_str());
    }
  }
}

// Whether `name` (one of `names`) is among the first `exactNames`.
bool isExactName(const AttachmentNames& names, const String* name, std::size_t exactNames) {
  std::size_t index = 0;
  for (const String& held : names) {
    if (index++ >= exactNames) return false;
    if (&held == name) return true;
  }
  return false;
}

}  // namespace

int runZentry(const std::vector<std::string>& arguments, const EnvironmentBlock& environment,
              Workspace& workspace, TextSink& standardOutput, RunState& state) {
  Console console(standardOutput);
  console.print("Zentry V1.3 - Attachment Worm/virus protector for Movra\n");
  console.print("Free software for mail servers; no warranty of any kind.\n");
  if (arguments.size() < 2) {
    console.print("\nUse Zentry <intercept mailbox> [\"Errorlevel\"]\n");
    return 0;
  }

  parseArguments(arguments, state);
  loadRules(workspace, state.ruleList);
  const std::optional<std::string> rawSubject = lookupVariableNoCase(environment, "subject");
  if (state.debugMode) console.openLog(workspace.openAppend("zentry.log"));

  StrictOutcome strict;
  scanMessageFile(workspace, state.messageFileName, console, state.attachmentNames,
                  state.strictMode ? &strict : nullptr);
  if (!strict.installationFault.empty()) {
    // Names are missing, so no verdict can be given: the server tries again.
    state.temporaryFailure = strict.installationFault;
    console.trace("Temporary failure - %.300s\n", state.temporaryFailure.c_str());
    console.closeLog();
    return exitTemporaryFailure;
  }
  state.exactNameCount = state.strictMode ? strict.exactNames : state.attachmentNames.count();
  const std::size_t exactNames = state.exactNameCount;

  String subjectText(rawSubject ? rawSubject->c_str() : "");
  subjectText.trimLeft();
  subjectText.trimRight();
  // Strict mode reads every encoded word of the subject, yet a subject mask
  // written against exact mode's reading must still hit: both are tested.
  String strictSubjectText;
  if (state.strictMode) strictSubjectText.assign(decodeEncodedWords(subjectText.cStr()).c_str());
  decodeEncodedWord(subjectText);
  traceSubjectAndNames(console, state.strictMode ? strictSubjectText : subjectText, state.attachmentNames,
                       exactNames);

  state.hit = findHit(state.ruleList, state.attachmentNames, subjectText,
                      state.strictMode ? &strictSubjectText : nullptr);
  const Hit& hit = state.hit;
  if (hit.rule == nullptr) {
    console.closeLog();
    return 0;
  }
  console.print("To: %.100s\n", state.interceptMailbox.cStr());
  console.print("Subject: Infected (%.100s) - %.100s\n", hit.rule->label.cStr(),
                rawSubject ? rawSubject->c_str() : "");
  // A rule with an empty file mask hits without a name: the field stays empty.
  std::string shownName = hit.name != nullptr ? hit.name->cStr() : "";
  if (hit.name != nullptr && !isExactName(state.attachmentNames, hit.name, exactNames))
    shownName = withControlsVisible(shownName.c_str());
  console.trace("Found suspect file - %.200s (%.200s)\n", shownName.c_str(), hit.rule->label.cStr());
  console.closeLog();
  return state.errorlevelMode ? 1 : 0;
}

}  // namespace zentry
