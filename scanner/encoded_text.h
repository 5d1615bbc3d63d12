#pragma once

#include <string>

namespace zentry {

/// Decodes every encoded word ("=?charset?B?...?=", "=?charset?q?...?=", the
/// charset possibly with a "*language" tail) in a text, wherever it stands:
/// alone, several in a row, beside plain text or inside quotes. Blanks (space,
/// tab, CR, LF) between two adjacent encoded words are dropped; all other
/// text is kept. Decoded bytes are kept as they are, in whatever charset the
/// word names. Something that only looks like the start of an encoded word
/// is plain text. Linear in the text's length.
std::string decodeEncodedWords(const std::string& text);

}  // namespace zentry
