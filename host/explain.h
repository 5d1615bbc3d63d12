#pragma once

#include <string>

#include "host/filter_trace.h"
#include "host/options.h"

namespace zentry::host {

/// Runs the filter once with "debug" and prints what it saw: the subject as
/// matched, every name with where it came from, and the first rule that hits
/// with its masks. Returns the exit code.
int runExplain(const Options& options);

/// The explanation text for one traced run; `ruleLines` describes the hitting
/// rule (empty when no rule hits or it cannot be told).
std::string formatExplanation(const FilterTrace& trace, const std::vector<std::string>& origins,
                              const std::string& ruleLines);

}  // namespace zentry::host
