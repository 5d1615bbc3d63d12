#include "platform/text_compare.h"

namespace zentry {

int compareTextNoCase(const char* left, const char* right) {
  const auto* a = reinterpret_cast<const unsigned char*>(left);
  const auto* b = reinterpret_cast<const unsigned char*>(right);
  for (;; ++a, ++b) {
    const unsigned char x = foldAscii(*a);
    const unsigned char y = foldAscii(*b);
    if (x != y) return x < y ? -1 : 1;
    if (x == 0) return 0;
  }
}

}  // namespace zentry
