#pragma once

#include <cstdint>

#include "core/string.h"

namespace zentry {

/// What the uuencode block reader remembers across the lines of one scan so
/// that its total work stays linear in the body.
///
/// Whether a block is terminated depends only on the lines after its "begin"
/// line up to the line where its loop stops, on the scan limit and on the
/// leaf's delimiter lines. A later "begin" line that lies inside that stretch
/// (but is not its last line) stops at the same line with the same line
/// buffer, so it ends the same way: not terminated. The reader keeps the last
/// stretch it read for a block that was not terminated and answers such
/// "begin" lines from it instead of reading the stretch again.
struct UuencodeMemo {
  bool valid = false;
  /// Position just after the "begin" line whose loop read the stretch.
  std::uint32_t stretchStart = 0;
  /// Position just after the line where that loop stopped; a "begin" line
  /// that ends here is that very line and is read afresh.
  std::uint32_t stretchEnd = 0;
  std::uint32_t endOffset = 0;
  String delimiter;
  String closeDelimiter;
};

}  // namespace zentry
