#include "scanner/header_fields.h"

#include <cstdint>
#include <cstring>

#include "core/allocator.h"
#include "platform/text_compare.h"

namespace zentry {
namespace {

// A byte range [begin, end) of a field's text. The parsers work on ranges and
// copy out only the values they keep: String's own appendChar and nextToken
// grow by 128 bytes at a time, which turns a field of megabytes quadratic.
struct Range {
  std::uint32_t begin;
  std::uint32_t end;
  std::uint32_t size() const { return end - begin; }
};

bool isBlank(char byte) { return byte == ' ' || byte == '\t' || byte == '\r' || byte == '\n'; }

Range trimmed(const char* text, Range range) {
  while (range.begin < range.end && isBlank(text[range.begin])) ++range.begin;
  while (range.end > range.begin && isBlank(text[range.end - 1])) --range.end;
  return range;
}

std::uint32_t findByte(const char* text, Range range, char byte) {
  const void* hit = std::memchr(text + range.begin, byte, range.size());
  return hit == nullptr ? range.end : static_cast<std::uint32_t>(static_cast<const char*>(hit) - text);
}

// Whole-text comparison without letter case against a keyword.
bool namedNoCase(const char* text, Range range, const char* keyword) {
  const std::size_t size = std::strlen(keyword);
  if (range.size() != size) return false;
  for (std::size_t i = 0; i < size; ++i) {
    if (foldAscii(static_cast<unsigned char>(text[range.begin + i])) !=
        foldAscii(static_cast<unsigned char>(keyword[i])))
      return false;
  }
  return true;
}

// A value is copied once, straight from the field into the String that keeps
// it, reusing that String's buffer when it is large enough.
void keep(String& target, const String& field, Range range) {
  target.assignPrefix(field.cStr() + range.begin, range.size());
}

// One parameter of a Content-Type field, starting at `cursor`; returns where
// the next one starts. The name runs to the first '=' (';' and quotes
// included); the value runs to the first ';' outside quotes, where either
// quote character opens a quote (taking over from an open one of the other
// kind) and only the same character closes it.
std::uint32_t parseTypeParameter(const String& field, std::uint32_t cursor, std::uint32_t end,
                                 PartHeader& header, BoundaryStack& boundaries) {
  const char* text = field.cStr();
  Range name{cursor, cursor};
  while (cursor < end && text[cursor] != '=') ++cursor;
  name.end = cursor;
  Range value{cursor, cursor};
  if (cursor < end) {
    value.begin = ++cursor;
    char quote = 0;
    bool closed = false;
    while (cursor < end) {
      const char byte = text[cursor++];
      if (quote != 0 && byte == quote) {
        quote = 0;
      } else if (byte == '\'' || byte == '"') {
        quote = byte;
      }
      if (byte == ';' && quote == 0) {
        closed = true;
        break;
      }
    }
    value.end = closed ? cursor - 1 : cursor;
  }
  name = trimmed(text, name);
  value = trimmed(text, value);
  if (value.size() >= 2 && (text[value.begin] == '\'' || text[value.begin] == '"') &&
      text[value.end - 1] == text[value.begin]) {
    ++value.begin;
    --value.end;
  }
  if (namedNoCase(text, name, "boundary")) {
    String boundary;
    keep(boundary, field, value);
    boundaries.pushBack(boundary);
  } else if (namedNoCase(text, name, "name") && header.partName.length() == 0) {
    keep(header.partName, field, value);
  }
  return cursor;
}

void applyContentType(const String& field, PartHeader& header, BoundaryStack& boundaries) {
  const char* text = field.cStr();
  const Range rest{13, field.length()};
  const std::uint32_t semicolon = findByte(text, rest, ';');
  keep(header.contentType, field, trimmed(text, Range{rest.begin, semicolon}));
  if (semicolon == rest.end) return;
  const Range parameters = trimmed(text, Range{semicolon + 1, rest.end});
  // An empty parameter text still makes one (empty) parameter: harmless.
  std::uint32_t cursor = parameters.begin;
  do {
    cursor = parseTypeParameter(field, cursor, parameters.end, header, boundaries);
  } while (cursor < parameters.end);
}

void applyTransferEncoding(const String& field, PartHeader& header) {
  const char* text = field.cStr();
  Range value{26, field.length()};
  while (value.begin < value.end && isBlank(text[value.begin])) ++value.begin;
  // Trailing blanks stay: "base64 " is not base64.
  value.end = findByte(text, value, ';');
  keep(header.transferEncoding, field, value);
}

// Tokens are the runs between ';' characters; quotes do not protect a ';'
// here, and only a double quote pair around a value is removed.
void applyContentDisposition(const String& field, PartHeader& header) {
  const char* text = field.cStr();
  const std::uint32_t end = field.length();
  std::uint32_t cursor = findByte(text, Range{0, end}, ';');
  while (cursor < end) {
    while (cursor < end && text[cursor] == ';') ++cursor;
    if (cursor == end) break;
    const Range token{cursor, findByte(text, Range{cursor, end}, ';')};
    cursor = token.end;
    const std::uint32_t equals = findByte(text, token, '=');
    const Range name = trimmed(text, Range{token.begin, equals});
    Range value = trimmed(text, Range{equals == token.end ? token.end : equals + 1, token.end});
    if (value.size() > 0 && text[value.begin] == '"' && text[value.end - 1] == '"') {
      // A lone '"' is both first and last: the value becomes empty.
      value = value.size() == 1 ? Range{value.begin, value.begin} : Range{value.begin + 1, value.end - 1};
    }
    if (namedNoCase(text, name, "filename")) keep(header.partName, field, value);
  }
}

// Whether text begins with `prefix` (lower case) when ASCII letters are
// folded; the text's terminator ends it as a mismatch.
bool beginsNoCase(const char* text, const char* prefix) {
  for (; *prefix != '\0'; ++text, ++prefix) {
    if (foldAscii(static_cast<unsigned char>(*text)) != static_cast<unsigned char>(*prefix)) return false;
  }
  return true;
}

}  // namespace

// The three prefixes share "content-", which is compared once.
void interpretHeaderField(const String& field, PartHeader& header, BoundaryStack& boundaries) {
  const char* text = field.cStr();
  if (!beginsNoCase(text, "content-")) return;
  const char* rest = text + 8;
  if (beginsNoCase(rest, "type:")) {
    applyContentType(field, header, boundaries);
  } else if (beginsNoCase(rest, "transfer-encoding:")) {
    applyTransferEncoding(field, header);
  } else if (beginsNoCase(rest, "disposition:")) {
    applyContentDisposition(field, header);
  }
}

GatheredField::~GatheredField() { releaseBytes(bytes_); }

void GatheredField::clear() {
  size_ = 0;
  if (bytes_ != nullptr) bytes_[0] = 0;
}

void GatheredField::append(const String& line) {
  const std::uint64_t need = std::uint64_t{size_} + line.length() + 1;
  if (need > UINT32_MAX) return;  // cannot happen below the 4 GiB position limit
  if (need > capacity_) {
    std::uint64_t grown = std::uint64_t{capacity_} + capacity_ / 2;
    if (grown < need) grown = need + 128;
    if (grown > UINT32_MAX) grown = need;
    char* bigger = static_cast<char*>(allocateBytes(static_cast<std::size_t>(grown)));
    if (bigger == nullptr) return;
    if (bytes_ != nullptr) std::memcpy(bigger, bytes_, size_);
    releaseBytes(bytes_);
    bytes_ = bigger;
    capacity_ = static_cast<std::uint32_t>(grown);
  }
  std::memcpy(bytes_ + size_, line.cStr(), line.length());
  size_ += line.length();
  bytes_[size_] = 0;
}

void GatheredField::copyTo(String& field) const { field.assign(bytes_ != nullptr ? bytes_ : ""); }

}  // namespace zentry
