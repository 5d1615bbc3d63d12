#pragma once

namespace zentry {

/// The value of a hexadecimal digit in either letter case, as quoted-printable
/// and percent-encoded text write them; -1 for any other byte.
inline int hexDigitValue(char byte) {
  if (byte >= '0' && byte <= '9') return byte - '0';
  if (byte >= 'A' && byte <= 'F') return byte - 'A' + 10;
  if (byte >= 'a' && byte <= 'f') return byte - 'a' + 10;
  return -1;
}

}  // namespace zentry
