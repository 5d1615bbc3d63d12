#pragma once

#include <cstddef>

#include "archive/archive_listing.h"
#include "scanner/attachment_examination.h"

namespace zentry {

/// Lists the attachments that an Outlook TNEF stream (winmail.dat) carries,
/// read with libytnef. Each attachment's names (its title, long and short
/// file names and display name; each distinct one once, as a member) reach
/// the sink, and its bytes are examined like an archive member's: an archive
/// or another TNEF stream among them is listed too. libytnef copies the
/// stream as it parses, so its bytes count against the decompression
/// budget. False when the stream could not be read to its end (damage, a
/// bound reached); the names found until then stand.
bool listTnef(const ArchiveOrigin& origin, const unsigned char* data, std::size_t size,
              ExaminationBudget& budget, ExaminationSink& sink);

}  // namespace zentry
