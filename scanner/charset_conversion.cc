#include "scanner/charset_conversion.h"

#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>

namespace zentry {
namespace {

// iconv_open's failure value, (iconv_t)-1.
const iconv_t noDescriptor =
    reinterpret_cast<iconv_t>(static_cast<std::intptr_t>(-1));  // NOLINT(performance-no-int-to-ptr)

/// The charset in lower case without a "*language" tail; empty when it is
/// no charset name iconv should be asked about. Only letters, digits and
/// "-_.:+" pass: a '/' would let the name carry iconv's own options.
std::string normalizedName(std::string_view charset) {
  charset = charset.substr(0, charset.find('*'));
  if (charset.empty() || charset.size() > CharsetConverter::maxCharsetNameLength) return {};
  std::string name;
  for (const char byte : charset) {
    const char lower = byte >= 'A' && byte <= 'Z' ? static_cast<char>(byte + 32) : byte;
    const bool allowed = (lower >= 'a' && lower <= 'z') || (lower >= '0' && lower <= '9') ||
                         std::strchr("-_.:+", lower) != nullptr;
    if (!allowed || lower == '\0') return {};
    name.push_back(lower);
  }
  return name;
}

bool isOneOf(const std::string& name, std::initializer_list<const char*> names) {
  return std::any_of(names.begin(), names.end(), [&](const char* listed) { return name == listed; });
}

bool startsWithAny(const std::string& name, std::initializer_list<const char*> prefixes) {
  return std::any_of(prefixes.begin(), prefixes.end(),
                     [&](const char* prefix) { return name.compare(0, std::strlen(prefix), prefix) == 0; });
}

/// Names whose bytes already are what a UTF-8 rules file matches.
bool isUtf8OrAscii(const std::string& name) {
  return isOneOf(name, {"utf-8", "utf8", "us-ascii", "ascii", "ansi_x3.4-1968", "iso646-us", "us"});
}

/// Charsets that give ASCII bytes their ASCII meaning and use no escape
/// sequences: text of ASCII bytes alone is the same in UTF-8, so the common
/// "=?iso-8859-1?q?invoice.pdf?=" needs no conversion.
bool keepsAscii(const std::string& name) {
  return startsWithAny(name, {"iso-8859-", "iso8859-", "iso_8859-", "windows-125", "cp125", "koi8", "gb2312",
                              "gbk", "gb18030", "big5", "euc-", "euc"});
}

/// 2 for the Unicode forms in two-byte units whose order a mark decides,
/// 4 for the four-byte ones, 0 for every other charset.
int unmarkedFamily(const std::string& name) {
  if (isOneOf(name, {"utf-16", "utf16", "ucs-2", "ucs2", "unicode"})) return 2;
  if (isOneOf(name, {"utf-32", "utf32", "ucs-4", "ucs4"})) return 4;
  return 0;
}

bool startsWithByteOrderMark(int family, std::string_view bytes) {
  if (family == 2)
    return bytes.size() >= 2 && (bytes.substr(0, 2) == "\xFE\xFF" || bytes.substr(0, 2) == "\xFF\xFE");
  const std::string_view big("\0\0\xFE\xFF", 4);
  const std::string_view little("\xFF\xFE\0\0", 4);
  return bytes.size() >= 4 && (bytes.substr(0, 4) == big || bytes.substr(0, 4) == little);
}

/// How many bytes one code unit of the charset takes: what is skipped past
/// a byte iconv refuses, so that the text after it stays in step.
std::size_t unitSize(const std::string& name) {
  if (name.find("32") != std::string::npos || name.find("ucs-4") != std::string::npos ||
      name.find("ucs4") != std::string::npos)
    return 4;
  if (name.find("16") != std::string::npos || name.find("ucs-2") != std::string::npos ||
      name.find("ucs2") != std::string::npos || name == "unicode")
    return 2;
  return 1;
}

/// The name to open for `name`: a Unicode form without a mark is opened in
/// the order asked for.
std::string iconvName(const std::string& name, std::string_view bytes,
                      CharsetConverter::UnmarkedOrder order) {
  const int family = unmarkedFamily(name);
  if (family == 0) return name;
  std::string base = family == 2 ? "utf-16" : "utf-32";
  if (startsWithByteOrderMark(family, bytes)) return base;
  return base + (order == CharsetConverter::UnmarkedOrder::bigEndian ? "be" : "le");
}

/// Converts all of `bytes` with `descriptor` into `out`, at most `limit`
/// bytes; false when the output would be longer.
bool convertAll(iconv_t descriptor, std::string_view bytes, std::size_t unit, std::size_t limit,
                std::string& out) {
  static constexpr std::string_view replacement = "\xEF\xBF\xBD";  // U+FFFD
  iconv(descriptor, nullptr, nullptr, nullptr, nullptr);
  std::string input(bytes);
  out.assign(limit, '\0');
  char* in = input.data();
  std::size_t inLeft = input.size();
  char* at = out.data();
  std::size_t outLeft = limit;
  while (inLeft > 0) {
    if (iconv(descriptor, &in, &inLeft, &at, &outLeft) != static_cast<std::size_t>(-1)) break;
    const int error = errno;
    if (error == E2BIG || outLeft < replacement.size()) return false;
    if (error != EILSEQ && error != EINVAL) return false;
    at = std::copy(replacement.begin(), replacement.end(), at);
    outLeft -= replacement.size();
    // EINVAL: the text ends inside a character.
    if (error == EINVAL) break;
    const std::size_t skipped = std::min(unit, inLeft);
    in += skipped;
    inLeft -= skipped;
  }
  // A stateful charset may owe bytes for its final state.
  if (iconv(descriptor, nullptr, nullptr, &at, &outLeft) == static_cast<std::size_t>(-1)) return false;
  out.resize(limit - outLeft);
  return true;
}

}  // namespace

CharsetConverter::~CharsetConverter() {
  for (const Opened& entry : opened_) {
    if (entry.descriptor != nullptr) iconv_close(static_cast<iconv_t>(entry.descriptor));
  }
}

void* CharsetConverter::descriptorFor(const std::string& name) {
  for (const Opened& entry : opened_) {
    if (entry.name == name) return entry.descriptor;
  }
  if (opened_.size() >= maxCharsets) return nullptr;
  const iconv_t descriptor = iconv_open("UTF-8", name.c_str());
  // An unknown charset is remembered too, so asking again costs nothing.
  opened_.push_back(Opened{name, descriptor == noDescriptor ? nullptr : static_cast<void*>(descriptor)});
  return opened_.back().descriptor;
}

bool CharsetConverter::needsBothOrders(std::string_view charset, std::string_view bytes) {
  const int family = unmarkedFamily(normalizedName(charset));
  return family != 0 && !startsWithByteOrderMark(family, bytes);
}

bool CharsetConverter::appendUtf8(std::string_view charset, std::string_view bytes, std::string& out,
                                  UnmarkedOrder order) {
  const std::string name = normalizedName(charset);
  if (name.empty() || isUtf8OrAscii(name) || bytes.empty()) return false;
  if (keepsAscii(name) &&
      std::all_of(bytes.begin(), bytes.end(), [](char byte) { return (byte & 0x80) == 0; }))
    return false;
  const std::string opened = iconvName(name, bytes, order);
  void* descriptor = descriptorFor(opened);
  if (descriptor == nullptr) return false;
  std::string converted;
  if (!convertAll(static_cast<iconv_t>(descriptor), bytes, unitSize(opened), bytes.size() * 4 + 16,
                  converted))
    return false;
  out += converted;
  return true;
}

}  // namespace zentry
