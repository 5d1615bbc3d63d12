#include "scanner/client_header_reading.h"

#include <cstring>

#include "platform/text_compare.h"

namespace zentry {
namespace {

bool isBlank(char byte) { return byte == ' ' || byte == '\t' || byte == '\r' || byte == '\n'; }

bool sameNoCase(const char* text, const char* lower, std::size_t size) {
  for (std::size_t i = 0; i < size; ++i) {
    if (foldAscii(static_cast<unsigned char>(text[i])) != static_cast<unsigned char>(lower[i])) return false;
  }
  return true;
}

struct FieldName {
  const char* usual;  ///< as mail programs write it: compared first, in one go
  const char* lower;
  std::size_t size;
  StructureField field;
};

constexpr FieldName fieldNames[] = {
    {"Content-Type", "content-type", 12, StructureField::contentType},
    {"Content-Transfer-Encoding", "content-transfer-encoding", 25, StructureField::transferEncoding},
    {"Content-Disposition", "content-disposition", 19, StructureField::contentDisposition},
};

// Skips a quoted string starting at the '"' at `at`; returns the index after
// its closing quote (or the end).
std::size_t afterQuoted(const char* text, std::size_t at, std::size_t end) {
  for (std::size_t i = at + 1; i < end; ++i) {
    if (text[i] == '\\') {
      ++i;
    } else if (text[i] == '"') {
      return i + 1;
    }
  }
  return end;
}

std::string unquoted(const char* text, std::size_t at, std::size_t end) {
  std::string value;
  for (std::size_t i = at + 1; i < end && text[i] != '"'; ++i) {
    if (text[i] == '\\' && i + 1 < end) ++i;
    value.push_back(text[i]);
  }
  return value;
}

}  // namespace

StructureField structureFieldOf(const char* text, std::size_t size, std::size_t* valueStart) {
  // Most fields are none of the three: "content-" and the two letters after
  // it tell which one a field can be before any name is compared whole.
  if (size < 13 || (std::memcmp(text, "Content-", 8) != 0 && !sameNoCase(text, "content-", 8)))
    return StructureField::other;
  const int ninth = text[8] | 0x20;
  const int tenth = text[9] | 0x20;
  const FieldName* name = nullptr;
  if (ninth == 't' && tenth == 'y') name = &fieldNames[0];
  if (ninth == 't' && tenth == 'r') name = &fieldNames[1];
  if (ninth == 'd' && tenth == 'i') name = &fieldNames[2];
  if (name == nullptr || size <= name->size ||
      (std::memcmp(text + 10, name->usual + 10, name->size - 10) != 0 &&
       !sameNoCase(text + 10, name->lower + 10, name->size - 10)))
    return StructureField::other;
  std::size_t i = name->size;
  while (i < size && (text[i] == ' ' || text[i] == '\t')) ++i;
  if (i == size || text[i] != ':') return StructureField::other;
  *valueStart = i + 1;
  return name->field;
}

bool writtenWithoutBlanksBeforeColon(const char* text, std::size_t size, StructureField field) {
  for (const FieldName& name : fieldNames) {
    if (name.field == field) return size > name.size && text[name.size] == ':';
  }
  return true;
}

std::vector<std::string> clientBoundaries(const char* value, std::size_t size) {
  std::vector<std::string> found;
  // The media type runs to the first ';'; a quote before it is no quote.
  const void* semicolon = std::memchr(value, ';', size);
  std::size_t i =
      semicolon == nullptr ? size : static_cast<std::size_t>(static_cast<const char*>(semicolon) - value);
  while (i < size) {
    ++i;  // past the ';'
    while (i < size && isBlank(value[i])) ++i;
    const std::size_t nameStart = i;
    while (i < size && value[i] != '=' && value[i] != ';') ++i;
    std::size_t nameEnd = i;
    while (nameEnd > nameStart && isBlank(value[nameEnd - 1])) --nameEnd;
    if (i == size || value[i] == ';') continue;
    ++i;  // past the '='
    while (i < size && isBlank(value[i])) ++i;
    const bool isBoundary = nameEnd - nameStart == 8 && sameNoCase(value + nameStart, "boundary", 8);
    if (i < size && value[i] == '"') {
      const std::size_t after = afterQuoted(value, i, size);
      if (isBoundary) found.push_back(unquoted(value, i, after));
      i = after;
      while (i < size && value[i] != ';') ++i;
      continue;
    }
    const std::size_t valueStart = i;
    while (i < size && value[i] != ';') ++i;
    std::size_t valueEnd = i;
    while (valueEnd > valueStart && isBlank(value[valueEnd - 1])) --valueEnd;
    if (isBoundary) found.emplace_back(value + valueStart, valueEnd - valueStart);
  }
  return found;
}

std::string clientTransferEncoding(const char* value, std::size_t size) {
  std::size_t begin = 0;
  std::size_t end = size;
  while (begin < end && isBlank(value[begin])) ++begin;
  const void* semicolon = std::memchr(value + begin, ';', end - begin);
  if (semicolon != nullptr) end = static_cast<std::size_t>(static_cast<const char*>(semicolon) - value);
  while (end > begin && isBlank(value[end - 1])) --end;
  return std::string(value + begin, end - begin);
}

bool mayGiveBoundary(const char* value, std::size_t size) {
  for (std::size_t at = 0; at < size;) {
    const void* equals = std::memchr(value + at, '=', size - at);
    if (equals == nullptr) return false;
    std::size_t end = static_cast<std::size_t>(static_cast<const char*>(equals) - value);
    at = end + 1;
    while (end > 0 && isBlank(value[end - 1])) --end;
    if (end >= 8 && sameNoCase(value + end - 8, "boundary", 8)) return true;
  }
  return false;
}

bool namesUuencoding(const std::string& encoding) {
  for (const char* name : {"x-uuencode", "x-uue", "uue"}) {
    if (encoding.size() == std::strlen(name) && sameNoCase(encoding.data(), name, encoding.size()))
      return true;
  }
  return false;
}

DelimiterMatch delimiterEndOf(const char* rest, std::size_t size) {
  DelimiterMatch match;
  std::size_t i = 0;
  const bool close = size >= 2 && rest[0] == '-' && rest[1] == '-';
  if (close) i = 2;
  const std::size_t padStart = i;
  while (i < size && (rest[i] == ' ' || rest[i] == '\t')) ++i;
  const bool padded = i > padStart;
  if (i < size && rest[i] == '\n') ++i;
  if (i != size) return match;
  match.padded = padded;
  match.end = close ? DelimiterEnd::closeDelimiter : DelimiterEnd::delimiter;
  return match;
}

}  // namespace zentry
