#include <array>
#include <cstddef>
#include <cstdint>

#include "core/string.h"

namespace zentry {
namespace {

constexpr char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// The value of each alphabet byte; -1 for every byte that is skipped. Not a
// char table: the sentinel must not pass through char sign rules.
constexpr std::array<std::int16_t, 256> makeValueTable() {
  std::array<std::int16_t, 256> table{};
  for (std::int16_t& value : table) value = -1;
  for (int index = 0; index < 64; ++index)
    table[static_cast<unsigned char>(alphabet[index])] = static_cast<std::int16_t>(index);
  return table;
}

constexpr std::array<std::int16_t, 256> valueTable = makeValueTable();

}  // namespace

// An "=" anywhere ends the input, not only as padding at the end; bytes
// outside the alphabet (blanks, line breaks, 8-bit bytes) are skipped, and
// leftover bits below a whole byte are dropped.
int String::decodeBase64(unsigned char* output, int limit) const {
  // Only the lowest 14 bits are ever read, so bits shifted out at the top do
  // no harm.
  std::uint32_t accumulator = 0;
  int bits = 0;
  int written = 0;
  for (std::uint32_t j = 0; j < length(); ++j) {
    const auto byte = static_cast<unsigned char>(charAt(j));
    if (byte == '=') break;
    const int value = valueTable[byte];
    if (value < 0) continue;
    accumulator = (accumulator << 6) | static_cast<std::uint32_t>(value);
    bits += 6;
    if (bits >= 8) {
      if (written >= limit) break;
      output[written++] = static_cast<unsigned char>((accumulator >> (bits - 8)) & 0xFFu);
      bits -= 8;
    }
  }
  return written;
}

}  // namespace zentry
