#pragma once

#include <cstdint>

#include "core/string.h"

namespace zentry {

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

  int mismatch(const String& text) const;

 private:
  enum class Form { empty, anyText, plain, starTail, general };

  const String& mask_;
  Form form_;
  // The plain bytes a plain or starTail mask compares with the text's end.
  const unsigned char* plain_ = nullptr;
  std::uint32_t plainSize_ = 0;
};

}  // namespace zentry
