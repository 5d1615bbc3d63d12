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

/// Opens the named message in the workspace, scans it and appends every
/// attachment name to `names`. When it can't be opened, says so on standard
/// output and records nothing. `strictMode` reads the whole file and finds
/// the names strict mode adds.
void scanMessageFile(Workspace& workspace, const String& messageFileName, Console& console,
                     AttachmentNames& names, bool strictMode);

/// One scan frame over [startOffset, endOffset) of the open file.
void scanMessage(ScanContext& context, std::uint32_t startOffset, std::uint32_t endOffset);

}  // namespace zentry
