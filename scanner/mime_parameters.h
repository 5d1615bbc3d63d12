#pragma once

#include <cstddef>

#include "core/string.h"
#include "scanner/charset_conversion.h"
#include "scanner/shown_names.h"

namespace zentry {

/// Whether a field of `size` bytes at `text` may be Content-Type or
/// Content-Disposition: three bytes tell the two apart from every other
/// field ("Content-Transfer-Encoding" included), so most fields are passed
/// over here, without a call.
inline bool mayBeParameterField(const char* text, std::size_t size) {
  if (size < 12 || (text[0] | 0x20) != 'c') return false;
  const int ninth = text[8] | 0x20;
  const int tenth = text[9] | 0x20;
  return (ninth == 't' && tenth == 'y') || (ninth == 'd' && tenth == 'i');
}

/// Whether a field of `size` bytes at `text` may be Content-Name or
/// X-Sun-Data-Name, the fields a client takes a part's name from when its
/// parameters give none.
inline bool mayBeFallbackNameField(const char* text, std::size_t size) {
  if (size < 13) return false;
  const int first = text[0] | 0x20;
  return (first == 'c' && (text[8] | 0x20) == 'n') || (first == 'x' && (text[2] | 0x20) == 's');
}

/// Adds to `names` every name a mail client might show for a part that one
/// gathered header field gives, each once (a name already in `names` is not
/// added again, see ShownNames). Only Content-Type and Content-Disposition fields count; the
/// field name is matched without letter case and may be followed by blanks
/// before its colon. Their `name` and `filename` parameters count in either
/// field, with parameter names in any letter case:
///   - plain values, as tokens or quoted strings (a backslash takes the next
///     byte as it is, and ';' inside quotes is part of the value), with their
///     encoded words decoded;
///   - extended values (`filename*=charset'language'text`), percent-decoded;
///   - continuations (`filename*0=`, `filename*1*=` ...), joined in the order
///     of their numbers whatever the order they appear in, each section
///     percent-decoded when it is extended; a missing section is skipped.
/// A field with an oddity (a comment, a ',', a parameter not led by ';') is
/// also read as lenient clients read it (see lenientParameterList), and
/// every name with white space at its ends is also added without it.
/// Decoded bytes are kept as they are; with `charsets`, a name in another
/// charset than US-ASCII or UTF-8 is also added in UTF-8. Linear in the
/// field's length but for sorting the sections of a continued value.
void collectShownNames(const String& field, ShownNames& names, CharsetConverter* charsets = nullptr);

/// Adds to `names` the name a Content-Name or X-Sun-Data-Name field gives:
/// its whole value, blanks at its ends removed, encoded words decoded, and
/// also without the quotes around it. Any other field adds nothing.
void collectFallbackNames(const String& field, ShownNames& names, CharsetConverter* charsets = nullptr);

}  // namespace zentry
