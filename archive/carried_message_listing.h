#pragma once

#include <cstddef>

#include "archive/archive_listing.h"
#include "scanner/attachment_examination.h"

namespace zentry {

/// Reads a mail message that an archive (or TNEF stream) carries as mail,
/// in this process: its names and, at the depths below it, its archives
/// reach the sink, with `origin.route` (its route, its own name last)
/// before theirs. The message counts one level of `origin.depth`, as an
/// archive member does; deeper than maxArchiveDepth, or when `truncated`,
/// it adds "<name>|incomplete-message" (a truncated one is still read as
/// far as it goes). Charges the message's budget. Never fails.
void listCarriedMessage(const ArchiveOrigin& origin, const unsigned char* data, std::size_t size,
                        bool truncated, ExaminationBudget& budget, ExaminationSink& sink);

}  // namespace zentry
