#pragma once

namespace zentry {

/// What the uuencode block reader remembers across the lines of one scan so
/// that its total work stays linear in the body.
struct UuencodeMemo {};

}  // namespace zentry
