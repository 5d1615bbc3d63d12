#include "support/mail_encodings.h"

#include <algorithm>

namespace zentry::test {

std::string base64Lines(const std::string& bytes) {
  static const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  const auto at = [&](std::size_t i) { return i < bytes.size() ? static_cast<unsigned char>(bytes[i]) : 0u; };
  std::string out;
  for (std::size_t i = 0; i < bytes.size(); i += 3) {
    const unsigned group = at(i) << 16 | at(i + 1) << 8 | at(i + 2);
    out += alphabet[group >> 18 & 63];
    out += alphabet[group >> 12 & 63];
    out += i + 1 < bytes.size() ? alphabet[group >> 6 & 63] : '=';
    out += i + 2 < bytes.size() ? alphabet[group & 63] : '=';
    if (i % 57 == 54) out += '\n';
  }
  return out + '\n';
}

std::string uuencodeLines(const std::string& bytes) {
  const auto at = [&](std::size_t i) { return i < bytes.size() ? static_cast<unsigned char>(bytes[i]) : 0u; };
  std::string out;
  for (std::size_t i = 0; i < bytes.size(); i += 45) {
    const std::size_t count = std::min<std::size_t>(45, bytes.size() - i);
    out += static_cast<char>(32 + count);
    for (std::size_t j = i; j < i + count; j += 3) {
      const unsigned group = at(j) << 16 | at(j + 1) << 8 | at(j + 2);
      for (int shift = 18; shift >= 0; shift -= 6) {
        const unsigned sextet = group >> shift & 63;
        out += static_cast<char>(sextet == 0 ? '`' : 32 + sextet);
      }
    }
    out += '\n';
  }
  return out + "`\nend\n";
}

}  // namespace zentry::test
