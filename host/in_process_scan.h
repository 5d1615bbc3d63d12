#pragma once

#include <optional>
#include <string>
#include <vector>

#include "host/filter_process.h"
#include "platform/replay_workspace.h"

namespace zentry::host {

/// Scans one message in this process, through the filter's own run over
/// `files` (which serve routing.dat and zentry.dat), with `arguments` as the
/// filter would get them, and answers as a process of it would: its exit
/// code and standard output. A scan that throws (out of memory) gives
/// Status::notStarted with the reason, so that one message fails and the
/// others go on. Safe on several threads at once, each with its own files.
FilterResult scanInProcess(ReplayWorkspace& files, const std::optional<std::string>& subject,
                           const std::vector<std::string>& arguments);

/// Strict mode lists archives in a process of their own, under its limits:
/// the zentry-archive beside this program, as the filter uses the one beside
/// itself. Call once before the first scan.
void useArchiveListerProcess();

}  // namespace zentry::host
