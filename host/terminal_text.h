#pragma once

#include <cstddef>
#include <string>

namespace zentry::host {

/// Length of the well-formed UTF-8 sequence at `i` (1 to 4), or 0 for a byte
/// that does not begin one. ASCII bytes count as sequences of one.
std::size_t utf8SequenceLength(const std::string& text, std::size_t i);

/// `text` made safe to show on a terminal: every control character (C0, DEL,
/// and C1 both as a raw byte and in UTF-8) becomes '?', so that text from mail
/// can neither move the cursor nor send the terminal commands. Well-formed
/// UTF-8 and the other 8-bit bytes are left for the terminal to show in its
/// own character set.
std::string terminalText(const std::string& text);

}  // namespace zentry::host
