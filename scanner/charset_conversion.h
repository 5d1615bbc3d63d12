#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace zentry {

/// Converts text in a named charset to UTF-8 with the C library's iconv, for
/// the readings of names that a UTF-8 rules file matches. One converter
/// serves one run: each charset is opened once and kept, and at most
/// maxCharsets are opened (or found unknown) at all, so a message naming a
/// thousand charsets costs no more than one naming maxCharsets.
class CharsetConverter {
 public:
  static constexpr std::size_t maxCharsets = 64;
  /// Longer names are no charset a client knows, and are not looked up.
  static constexpr std::size_t maxCharsetNameLength = 40;

  /// Which order two-byte and four-byte Unicode text without a byte order
  /// mark is read in: the standard says big-endian, Windows and many
  /// clients write little-endian, so both are tried (see needsBothOrders).
  enum class UnmarkedOrder { bigEndian, littleEndian };

  CharsetConverter() = default;
  ~CharsetConverter();
  CharsetConverter(const CharsetConverter&) = delete;
  CharsetConverter& operator=(const CharsetConverter&) = delete;

  /// Appends `bytes`, written in `charset`, to `out` in UTF-8. A byte that
  /// does not belong to the charset becomes U+FFFD, as clients show it, and
  /// the conversion goes on after it. False, with `out` as it was, when
  /// there is nothing to convert (US-ASCII or UTF-8, or only ASCII bytes in
  /// a charset that keeps them) or the text cannot be converted: an unknown
  /// charset, one past the bound, or an output over four bytes per byte.
  /// A trailing "*language" on the charset (RFC 2231) is ignored.
  bool appendUtf8(std::string_view charset, std::string_view bytes, std::string& out,
                  UnmarkedOrder order = UnmarkedOrder::bigEndian);

  /// Whether `charset` leaves the byte order to a mark that `bytes` lacks:
  /// then appendUtf8 gives another text for each order.
  static bool needsBothOrders(std::string_view charset, std::string_view bytes);

 private:
  struct Opened {
    std::string name;  ///< the name iconv was asked for, lower case
    void* descriptor;  ///< an iconv_t; null when iconv does not know the charset
  };
  /// The descriptor for the iconv name `name`, opened now or before; null
  /// when it cannot be had.
  void* descriptorFor(const std::string& name);
  std::vector<Opened> opened_;
};

}  // namespace zentry
