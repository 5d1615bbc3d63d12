#pragma once

#include <cstdint>

#include "core/rule.h"
#include "platform/console.h"
#include "platform/workspace.h"
#include "scanner/scan_context.h"

namespace zentry {

/// Offsets of the whole-file scan: the host's four prefix bytes are skipped,
/// and the limit is 0xFFFFFFFE, so a failed position query (0xFFFFFFFF) always
/// ends the reading.
constexpr std::uint32_t messageStartOffset = 4;
constexpr std::uint32_t wholeFileEndOffset = 0xFFFFFFFEu;

struct StrictOutcome;

/// Opens the named message in the workspace, scans it and appends every
/// attachment name to `names`. When it can't be opened, says so on standard
/// output and records nothing. With `strict` (strict mode) the names are
/// exact mode's, then those strict mode's reading adds (strict_scan.h).
void scanMessageFile(Workspace& workspace, const String& messageFileName, Console& console,
                     AttachmentNames& names, StrictOutcome* strict);

/// One scan of the named file, read as `reading`: exact mode's walk when
/// `strict` is null, else strict mode's. With `seen`, the reading is watched
/// as it goes (reading_watch.h) and `*seen` receives what was seen. False, with nothing recorded or printed,
/// when the file can't be opened.
struct ReadingSeen {
  bool nulInLine = false;      ///< a line handed to the walk held a NUL
  bool endsBeforeFile = true;  ///< the text may end before the file does (at a 0x1A)
};
[[nodiscard]] bool scanReading(Workspace& workspace, const String& messageFileName, TextReading reading,
                               Console& console, AttachmentNames& names, StrictScan* strict,
                               ReadingSeen* seen = nullptr);

/// One scan frame over [startOffset, endOffset) of the open file.
void scanMessage(ScanContext& context, std::uint32_t startOffset, std::uint32_t endOffset);

}  // namespace zentry
