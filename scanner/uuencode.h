#pragma once

#include <cstdint>
#include <cstring>

#include "core/string.h"
#include "scanner/scan_context.h"

namespace zentry {

/// Called for a body line of a plain-text leaf. Does nothing unless
/// currentLine opens a uuencode block; otherwise reads the block, records its
/// name when it is terminated, and leaves the position after the block or just
/// after the "begin" line. A line equal to delimiter or closeDelimiter (when
/// not empty) ends the block as not terminated.
void scanUuencodeBlock(ScanContext& context, String& currentLine, std::uint32_t endOffset,
                       std::int32_t& partCounter, const String& delimiter, const String& closeDelimiter);

/// Whether a line just read into a buffer starts like a "begin" line; only
/// such lines need to be handed to scanUuencodeBlock.
inline bool mayOpenUuencodeBlock(const char* buffer) { return std::strncmp(buffer, "begin ", 6) == 0; }

/// Decodes one uuencoded line into output and returns its length value.
int decodeUuLine(const String& line, unsigned char* output);

}  // namespace zentry
