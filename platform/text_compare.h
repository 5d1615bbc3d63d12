#pragma once

namespace zentry {

/// The platform's whole-text comparison without regard to letter case: ASCII
/// letters fold, every other byte compares by its unsigned value. Returns
/// <0, 0 or >0.
int compareTextNoCase(const char* left, const char* right);

inline unsigned char foldAscii(unsigned char byte) {
  return byte >= 'A' && byte <= 'Z' ? static_cast<unsigned char>(byte + ('a' - 'A')) : byte;
}

}  // namespace zentry
