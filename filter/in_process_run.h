#pragma once

#include <optional>
#include <string>
#include <vector>

#include "filter/driver.h"
#include "platform/workspace.h"

namespace zentry {

/// What one run of the filter gave: what the program would exit with and
/// write on standard output.
struct InProcessRun {
  int exitCode = 0;
  std::string output;
};

/// Runs the filter in this process over the files of `workspace`, as the
/// server runs zentry in a directory holding them: `arguments` are those
/// after the program's name (the intercept mailbox, then switches) and
/// `subject` is the variable "subject" (none: the variable is absent, and no
/// other variable is set). `state` is the run's own: the rule and name that
/// hit are left there. Safe on several threads at once, each with its own
/// workspace and state.
InProcessRun runFilterInProcess(Workspace& workspace, const std::vector<std::string>& arguments,
                                const std::optional<std::string>& subject, RunState& state);

}  // namespace zentry
