#pragma once

#include <string>
#include <vector>

#include "core/rule.h"
#include "core/string.h"
#include "filter/rule_matcher.h"
#include "platform/environment.h"
#include "platform/text_sink.h"
#include "platform/workspace.h"

namespace zentry {

/// The program's process-wide state. Members are constructed in this order
/// and destroyed in reverse, as the globals of the filter must be.
struct RunState {
  String messageFileName{"routing.dat"};
  String interceptMailbox{"infected"};
  RuleList ruleList;
  AttachmentNames attachmentNames;
  /// How many of attachmentNames, from the first, exact mode finds; strict
  /// mode's own follow them.
  std::size_t exactNameCount = 0;
  bool errorlevelMode = false;
  bool debugMode = false;
  bool strictMode = false;
  /// Why the run could not give a verdict, when a fault of the installation
  /// (the archive lister could not be started) left the scan incomplete;
  /// the run then ends with exitTemporaryFailure.
  std::string temporaryFailure;
  /// Once the run is done: the rule that hit and the name it matched (both
  /// pointing into the lists above), or no rule.
  Hit hit;
};

/// The exit code that asks the mail server to try the message again later.
constexpr int exitTemporaryFailure = 75;

/// Sets the intercept mailbox from the first argument and the switches from
/// the later ones. arguments[0] is the program's name.
void parseArguments(const std::vector<std::string>& arguments, RunState& state);

/// The whole run: banner, arguments, rules, subject, scan, trace, verdict.
/// Returns the exit code: exitTemporaryFailure, with no verdict and the
/// reason in state.temporaryFailure, when the scan met a fault of the
/// installation.
int runZentry(const std::vector<std::string>& arguments, const EnvironmentBlock& environment,
              Workspace& workspace, TextSink& standardOutput, RunState& state);

}  // namespace zentry
