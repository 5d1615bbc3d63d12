#pragma once

#include <string>

#include "host/filter_process.h"
#include "host/filter_trace.h"
#include "host/options.h"
#include "host/report.h"

namespace zentry::host {

/// Runs the filter (with "debug", to learn the rule and the name) over every
/// message of an mbox file or maildir, `options.jobs` at a time, each worker in
/// a working directory of its own, and prints the report. Returns the exit
/// code: 0, or 65 when files were skipped or no message was found, 70 when a
/// run failed, 75 when no working directory could be made.
int runReplay(const Options& options);

/// The report row of one finished run.
ReplayRow rowFor(const std::string& id, const std::optional<std::string>& subject,
                 const FilterResult& result);

}  // namespace zentry::host
