#pragma once

#include "core/rule.h"
#include "core/string.h"

namespace zentry {

/// What the header block of one entity tells the walker.
struct PartHeader {
  String contentType{"text/plain"};
  String transferEncoding{"7bit"};
  String partName;  ///< empty until a name or filename parameter gives one
};

/// Interprets one gathered header field (first line and continuation lines).
/// Only three prefixes count, compared without letter case over their exact
/// length, colon included: "content-type:", "content-transfer-encoding:" and
/// "Content-disposition:"; any other field, "Content-Type :" too, changes
/// nothing. Every boundary parameter of a Content-Type field is pushed onto
/// `boundaries`, whatever the media type and even when its value is empty.
/// The cost is linear in the field's length.
void interpretHeaderField(const String& field, PartHeader& header, BoundaryStack& boundaries);

/// Appends `more` to `text`, growing the buffer by half at a time so that
/// gathering a field of many continuation lines stays linear.
void appendGrowing(String& text, const String& more);

}  // namespace zentry
