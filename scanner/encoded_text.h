#pragma once

#include <string>
#include <vector>

#include "scanner/charset_conversion.h"

namespace zentry {

/// Decodes every encoded word ("=?charset?B?...?=", "=?charset?q?...?=", the
/// charset possibly with a "*language" tail) in a text, wherever it stands:
/// alone, several in a row, beside plain text or inside quotes. Blanks (space,
/// tab, CR, LF) between two adjacent encoded words are dropped; all other
/// text is kept. Decoded bytes are kept as they are, in whatever charset the
/// word names. Something that only looks like the start of an encoded word
/// is plain text. Linear in the text's length.
std::string decodeEncodedWords(const std::string& text);

/// As above; also appends to `utf8Readings` the text with the words of each
/// charset other than US-ASCII and UTF-8 converted to UTF-8, when that is
/// another text: once, or twice for two-byte or four-byte Unicode without a
/// byte order mark (read in either order). A charset that cannot be
/// converted keeps its bytes in that reading.
std::string decodeEncodedWords(const std::string& text, CharsetConverter& charsets,
                               std::vector<std::string>& utf8Readings);

}  // namespace zentry
