#pragma once

#include <string>

#include "host/filter_process.h"
#include "host/filter_trace.h"
#include "host/options.h"
#include "host/report.h"

namespace zentry::host {

/// Runs the filter (with "debug", to learn the rule and the name) over every
/// message of an mbox file or maildir, `options.jobs` at a time: in this
/// process, or one filter process per message in a working directory of its
/// own with `options.isolate`. One thread reads the mailbox ahead of the
/// workers into a few slots, so memory stays the same for any mailbox, and
/// the rows go to the report in mailbox order. Returns the exit code: 0, or
/// 65 when files were skipped or no message was found, 70 when a message
/// failed, 75 when no working directory could be made.
int runReplay(const Options& options);

/// The report row of one finished run.
ReplayRow rowFor(const std::string& id, const std::optional<std::string>& subject,
                 const FilterResult& result);

}  // namespace zentry::host
