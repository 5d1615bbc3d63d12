#pragma once

#include <cstddef>
#include <cstdint>

#include "core/string.h"
#include "scanner/scan_context.h"

namespace zentry {

// Files that a text body carries in encodings other than uuencode, which
// mail clients also show as attachments: yEnc blocks and BinHex 4.0
// streams. Strict mode records the name each one's header gives.

/// Whether a body line just read may open a yEnc block or announce a BinHex
/// stream; only such lines need scanTextCarrier. The leaf's loop may pass
/// over every other line unread.
inline bool mayOpenTextCarrier(const char* buffer) { return buffer[0] == '=' || buffer[0] == '('; }

/// Called in strict mode for a body line (the `delivered` bytes in the
/// context's line buffer) that mayOpenTextCarrier: records and traces the
/// file name of a yEnc header line, or of the BinHex stream the line
/// announces. For BinHex it reads at most maxBinHexNameLines lines ahead,
/// not past endOffset nor a line that starts like the leaf's delimiter
/// ("--" and `boundary`, when there is one), and then goes back to just
/// after the line, so the walker reads on as before. The line buffer is
/// not the line's any more afterwards.
void scanTextCarrier(ScanContext& context, std::size_t delivered, std::uint32_t endOffset,
                     const String* boundary);

}  // namespace zentry
