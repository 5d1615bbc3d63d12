#include "support/wildcard_oracle.h"

#include <cstddef>

#include "filter/wildcard.h"

namespace zentry::test {
namespace {

unsigned char byteAt(std::string_view bytes, std::size_t index) {
  return index < bytes.size() ? static_cast<unsigned char>(bytes[index]) : 0;
}

}  // namespace

int wildcardMismatchOracle(std::string_view text, std::string_view mask) {
  const std::size_t n = text.size();
  const std::size_t k = mask.size();
  if (k == 0) return n == 0 ? 0 : 1;
  std::size_t t = 0;
  std::size_t m = 0;
  while (m < k) {
    if (t > n) return 1;
    unsigned char c = byteAt(mask, m);
    if (c == '*') {
      if (m == k - 1) return 0;
      if (mask[m + 1] == '*') {
        ++m;
        continue;
      }
      if (mask[m + 1] == '?') {
        ++t;
        ++m;
      }
      if (t < n) {
        const std::size_t j = m + 1;
        const unsigned char d = byteAt(mask, j);
        for (std::size_t s = t; s < n; ++s) {
          if (charEqualNoCase(byteAt(text, s), d) == 1 &&
              wildcardMismatchOracle(text.substr(s), mask.substr(j)) == 0)
            return 0;
        }
        t = n;
      }
      ++m;
      continue;
    }
    if (c == '?') {
      ++t;
      ++m;
      continue;
    }
    if (c == '\\' && m < k - 1) c = byteAt(mask, ++m);
    if (charEqualNoCase(byteAt(text, t), c) == 0) return 1;
    ++t;
    ++m;
  }
  return t == n ? 0 : 1;
}

}  // namespace zentry::test
