#pragma once

#include <cstddef>
#include <cstdint>

namespace zentry {

/// How much of a file is its text.
enum class TextReading {
  Exact,  ///< the first byte 0x1A ends the readable content
  Whole,  ///< every byte is content, 0x1A and NUL included (strict mode)
};

/// A file read as text: a CR immediately followed by LF arrives as LF, a lone
/// CR as it is, and (when read Exact) the first byte 0x1A ends the readable
/// content. Positions are raw byte offsets of the file (both bytes of a CR LF
/// count).
class LineSource {
 public:
  virtual ~LineSource() = default;

  /// Delivers the characters up to and including the next LF, at most
  /// limit - 1 of them, and zero-terminates them in buffer (limit >= 2).
  /// Returns how many characters it delivered; 0 at end of content or on a
  /// read failure, and then buffer is left exactly as it was (callers test
  /// the last line they read after the read that found the end).
  virtual std::size_t readLine(char* buffer, std::size_t limit) = 0;

  /// The raw offset of the next unread byte. False when the query fails or the
  /// offset does not fit below 0xFFFFFFFF.
  [[nodiscard]] virtual bool tell(std::uint32_t* position) = 0;

  /// Moves to a raw byte offset; false on failure.
  virtual bool seek(std::uint32_t position) = 0;

  /// readLine, and then (when it delivered a line) the position after it as
  /// positionOf gives it: one call for the readers that test every line
  /// against a scan limit.
  virtual std::size_t readLineTo(char* buffer, std::size_t limit, std::uint32_t* position);

  /// Reads lines exactly as readLine cuts them, but delivers (as readLine
  /// does) only the first one that begins with a byte of `marks` (a
  /// zero-terminated set without CR or LF) or whose end position is at or
  /// past `endOffset` (a failed position query counts as past it); the lines
  /// before it are passed over. Returns 0 at the end of content, and buffer
  /// then holds nothing the caller may use. For a reader that only looks at
  /// lines starting with certain bytes, such as delimiter lines: a source
  /// can pass over the others without copying them.
  virtual std::size_t readMarkedLine(char* buffer, std::size_t limit, const char* marks,
                                     std::uint32_t endOffset);
};

/// The position after a failed query: never below any scan limit.
constexpr std::uint32_t failedPosition = 0xFFFFFFFFu;

/// tell() folded into one value: failedPosition when the query fails.
inline std::uint32_t positionOf(LineSource& source) {
  std::uint32_t position = 0;
  return source.tell(&position) ? position : failedPosition;
}

/// Whether `byte` is one of the zero-terminated set `marks` (the terminator
/// is not a member).
inline bool isMarkByte(char byte, const char* marks) {
  for (; *marks != '\0'; ++marks) {
    if (*marks == byte) return true;
  }
  return false;
}

inline std::size_t LineSource::readLineTo(char* buffer, std::size_t limit, std::uint32_t* position) {
  const std::size_t delivered = readLine(buffer, limit);
  if (delivered != 0) *position = positionOf(*this);
  return delivered;
}

inline std::size_t LineSource::readMarkedLine(char* buffer, std::size_t limit, const char* marks,
                                              std::uint32_t endOffset) {
  for (;;) {
    const std::size_t delivered = readLine(buffer, limit);
    if (delivered == 0 || isMarkByte(buffer[0], marks) || positionOf(*this) >= endOffset) return delivered;
  }
}

}  // namespace zentry
