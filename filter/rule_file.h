#pragma once

#include "core/rule.h"
#include "platform/workspace.h"

namespace zentry {

/// Empties `rules`, then fills it from "zentry.dat" in the workspace, three
/// lines a rule; a file that can't be opened leaves it empty.
void loadRules(Workspace& workspace, RuleList& rules);

}  // namespace zentry
