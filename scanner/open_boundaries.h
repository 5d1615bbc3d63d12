#pragma once

#include <cstddef>
#include <string>
#include <unordered_map>
#include <vector>

#include "scanner/client_header_reading.h"

namespace zentry {

/// A multipart open in a client reading.
struct OpenMultipart {
  std::string boundary;
  std::size_t frame = 0;  ///< the message it belongs to
  bool digest = false;
};

/// A delimiter line found, and whose: the level of its multipart.
struct FoundDelimiter {
  std::size_t level = 0;
  DelimiterEnd end = DelimiterEnd::none;
};

/// The multiparts open at once, outermost first, and the look-up of a line
/// against all their boundaries, which clients make for every line: found by
/// the boundary a line spells, at a cost of the line's length, not of how
/// many are open.
class OpenBoundaries {
 public:
  bool empty() const { return open_.empty(); }
  std::size_t size() const { return open_.size(); }
  const OpenMultipart& operator[](std::size_t level) const { return open_[level]; }
  const OpenMultipart& back() const { return open_.back(); }

  void push(OpenMultipart multipart);
  /// Closes the innermost ones until `count` are left.
  void keep(std::size_t count);

  /// The delimiter line of the innermost open multipart that a line read
  /// (`delivered` bytes, its LF included when it has one) is, if any: "--",
  /// the boundary, "--" for a close delimiter, then blanks or tabs.
  FoundDelimiter delimiterOf(const char* buffer, std::size_t delivered) const;

 private:
  /// The same, comparing the line with every open boundary in turn: for the
  /// rare boundary that ends in a blank, which the look-up can't place.
  FoundDelimiter comparedWithEach(const char* buffer, std::size_t delivered) const;
  /// The innermost level that `boundary` is open at, or none.
  bool innermostLevel(const std::string& boundary, std::size_t* level) const;

  std::vector<OpenMultipart> open_;
  std::unordered_map<std::string, std::vector<std::size_t>> levels_;
  std::size_t endingInBlank_ = 0;
};

}  // namespace zentry
