#pragma once

#include <cstdint>

#include "core/rule.h"
#include "scanner/scan_context.h"

namespace zentry {

/// Deepest nesting of scanPart calls that may still walk a multipart entity;
/// deeper ones walk it as a leaf.
constexpr int maxPartDepth = 1000;
/// Deepest nesting of scan frames; an embedded message met deeper is not
/// scanned again.
constexpr int maxMessageDepth = 16;

/// Reads one MIME entity from the current position. True only when the entity
/// was a leaf that ended at its delimiter line.
bool scanPart(ScanContext& context, BoundaryStack& boundaries, std::int32_t& partCounter,
              std::uint32_t endOffset);

}  // namespace zentry
