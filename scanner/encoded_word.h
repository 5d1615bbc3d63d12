#pragma once

#include "core/string.h"

namespace zentry {

/// Decodes, in place, a String that is exactly one encoded word
/// ("=?charset?Q?text?=" or "...?B?..."); any other String is left unchanged.
void decodeEncodedWord(String& text);

/// Decodes quoted-printable escapes in place; with appendLineBreak, adds CR LF
/// unless the text ended in a soft line break.
void decodeQuotedPrintable(String& text, bool appendLineBreak);

}  // namespace zentry
