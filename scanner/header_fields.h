#pragma once

#include <cstdint>

#include "core/rule.h"
#include "core/string.h"
#include "scanner/mime_parameters.h"

namespace zentry {

/// What the header block of one entity tells the walker. A value that no
/// field gave has no buffer and stands for its default, so a part allocates
/// only for the values its fields give.
struct PartHeader {
  String contentType;          ///< no buffer: "text/plain" (see contentTypeText)
  String transferEncoding;     ///< no buffer: "7bit", none of the encodings the walker tells apart
  String partName;             ///< empty until a name or filename parameter gives one
  ShownNames shownNames;       ///< strict mode only: every name the parameters give
  bool nestingUnread = false;  ///< the parts it nests lie past a depth bound and are not read

  /// The media type as the walker reads it.
  const char* contentTypeText() const { return contentType.hasBuffer() ? contentType.cStr() : "text/plain"; }
  const char* transferEncodingText() const {
    return transferEncoding.hasBuffer() ? transferEncoding.cStr() : "7bit";
  }
  bool isPlainText() const {
    return !contentType.hasBuffer() || contentType.compareNoCase("text/plain") == 0;
  }
};

/// Interprets one gathered header field (first line and continuation lines).
/// Only three prefixes count, compared without letter case over their exact
/// length, colon included: "content-type:", "content-transfer-encoding:" and
/// "Content-disposition:"; any other field, "Content-Type :" too, changes
/// nothing. Every boundary parameter of a Content-Type field is pushed onto
/// `boundaries`, whatever the media type and even when its value is empty.
/// The cost is linear in the field's length.
void interpretHeaderField(const String& field, PartHeader& header, BoundaryStack& boundaries);

/// A header field being gathered from its first line and its continuation
/// lines. Appending costs only the bytes added and the buffer grows by half
/// at a time, so a field of megabytes of continuation lines is gathered in
/// linear time (String's append measures the whole text again each time).
/// When memory runs out the field keeps what it had, as String does.
class GatheredField {
 public:
  GatheredField() = default;
  ~GatheredField();
  GatheredField(const GatheredField&) = delete;
  GatheredField& operator=(const GatheredField&) = delete;

  void clear();
  void append(const String& line);
  /// The field as a String; lines hold no 0 byte, so nothing is lost.
  void copyTo(String& field) const;

 private:
  char* bytes_ = nullptr;  // zero-terminated while not null
  std::uint32_t size_ = 0;
  std::uint32_t capacity_ = 0;
};

}  // namespace zentry
