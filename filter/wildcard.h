#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "core/string.h"

namespace zentry {
namespace detail {

// Upper case in the Windows-1252 code page: ASCII letters, the three caron
// and ligature pairs at 0x9A/0x9C/0x9E, y diaeresis (0xFF -> 0x9F) and the
// Latin-1 letters 0xE0..0xFE, except the division sign 0xF7.
constexpr std::array<unsigned char, 256> makeUpperTable() {
  std::array<unsigned char, 256> table{};
  for (int byte = 0; byte < 256; ++byte) {
    int upper = byte;
    if ((byte >= 'a' && byte <= 'z') || (byte >= 0xE0 && byte <= 0xFE && byte != 0xF7)) upper = byte - 0x20;
    if (byte == 0x9A || byte == 0x9C || byte == 0x9E) upper = byte - 0x10;
    if (byte == 0xFF) upper = 0x9F;
    table[static_cast<std::size_t>(byte)] = static_cast<unsigned char>(upper);
  }
  return table;
}

inline constexpr std::array<unsigned char, 256> upperTable = makeUpperTable();

inline unsigned char upper(unsigned char byte) { return upperTable[byte]; }

}  // namespace detail

/// 1 when the two bytes are equal after upper-casing (Windows-1252 rules for
/// bytes 128 to 255), else 0.
int charEqualNoCase(unsigned char left, unsigned char right);

/// A mask classified once, for testing many texts against it: mismatch(text)
/// gives exactly what text.wildcardMismatch(mask) gives, for every text.
/// The common forms of a rule mask (all stars, plain bytes, a star and plain
/// bytes) are answered without the general matcher. Holds no copy: the mask
/// must outlive it and stay unchanged. Preparing never allocates.
class PreparedMask {
 public:
  explicit PreparedMask(const String& mask);

  /// Inline: the rule matcher calls it for every rule and name, and most
  /// names already differ from a "*.ext" mask in their last byte.
  int mismatch(const String& text) const {
    if (form_ == Form::starTail) {
      const std::uint32_t n = text.length();
      if (n < plainSize_ || detail::upper(static_cast<unsigned char>(text.cStr()[n - 1])) != lastUpper_)
        return 1;
    }
    return mismatchInFull(text);
  }

 private:
  enum class Form { empty, anyText, plain, starTail, general };

  const String& mask_;
  Form form_;
  // The plain bytes a plain or starTail mask compares with the text's end.
  const unsigned char* plain_ = nullptr;
  std::uint32_t plainSize_ = 0;
  unsigned char lastUpper_ = 0;  // the upper case of the mask's last byte

  int mismatchInFull(const String& text) const;
};

}  // namespace zentry
