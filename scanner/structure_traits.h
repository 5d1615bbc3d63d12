#pragma once

#include <cstddef>
#include <cstdint>

#include "core/rule.h"
#include "core/string.h"
#include "scanner/header_fields.h"

namespace zentry {

/// Open boundaries past this many are not compared line by line: so deep a
/// nesting is itself reason enough to read the message as clients do.
constexpr std::uint32_t maxComparedBoundaries = 16;

/// Notes, on the lines and fields strict mode's walk reads anyway, whether
/// the message shows a trait where mail clients' reading of its structure
/// may part from that walk's. Only then does the clients' reading run
/// (client_structure_reading.h): most mail shows none, and a second walk of
/// every message would cost half as much again. Every place where the two
/// readings can part must set the flag; what a trait costs when it is set
/// without need is one more walk of that message.
class StructureTraits {
 public:
  bool shown() const { return shown_; }
  void show() { shown_ = true; }

  /// A line the walk was handed, with the boundaries open in its message.
  /// A line that clients take for a delimiter where the walk does not (one
  /// padded with blanks, one of an enclosing multipart, one inside a header
  /// block) is a trait.
  void noteLine(const char* buffer, std::size_t delivered, const BoundaryStack& open, bool inHeader) {
    // Inline: every line the walk reads passes here, and few begin "--".
    if (!shown_ && delivered >= 2 && buffer[0] == '-' && buffer[1] == '-')
      noteDashLine(buffer, delivered, open, inHeader);
  }
  /// A header line cut at the reader's limit: clients read it whole.
  void noteHeaderLine(const char* buffer, std::size_t delivered, std::size_t limit) {
    if (delivered + 1 >= limit && buffer[delivered - 1] != '\n') shown_ = true;
  }

 private:
  void noteDashLine(const char* buffer, std::size_t delivered, const BoundaryStack& open, bool inHeader);
  bool shown_ = false;
};

/// The fields of one header block, noted as they are interpreted.
class HeaderBlockTraits {
 public:
  /// Notes nothing without `traits` (exact mode).
  explicit HeaderBlockTraits(StructureTraits* traits) : traits_(traits) {}
  /// `field` has just been interpreted into `header`, pushing the
  /// boundaries after the first `boundariesBefore` of `boundaries`.
  void noteField(const String& field, const PartHeader& header, const BoundaryStack& boundaries,
                 std::uint32_t boundariesBefore);

 private:
  void noteContentType(const char* value, std::size_t size, const PartHeader& header,
                       const BoundaryStack& boundaries, std::uint32_t boundariesBefore);
  StructureTraits* traits_;
  int contentTypes_ = 0;
  int transferEncodings_ = 0;
};

}  // namespace zentry
