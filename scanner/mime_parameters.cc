#include "scanner/mime_parameters.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "core/hex_digit.h"
#include "platform/text_compare.h"
#include "scanner/encoded_text.h"
#include "scanner/lenient_parameters.h"

namespace zentry {
namespace {

/// Sections above this number are not joined: no client writes so many, and
/// the bound keeps a hostile number from meaning anything.
constexpr std::uint32_t maxSectionNumber = 9999;

/// Continuation sections kept from one field. Past the bound the last one
/// kept is replaced by each newer one, so a field of a million sections
/// costs no more memory than one of a hundred. (Names given whole are bounded
/// by ShownNames.)
constexpr std::size_t maxNameParameters = 100;

bool isBlank(char byte) { return byte == ' ' || byte == '\t' || byte == '\r' || byte == '\n'; }

std::string lowered(const char* text, std::size_t size) {
  std::string out(text, size);
  for (char& byte : out) byte = static_cast<char>(foldAscii(static_cast<unsigned char>(byte)));
  return out;
}

bool startsWithNoCase(const char* text, std::size_t size, const char* lowerPrefix) {
  const std::size_t length = std::strlen(lowerPrefix);
  if (size < length) return false;
  for (std::size_t i = 0; i < length; ++i) {
    if (foldAscii(static_cast<unsigned char>(text[i])) != static_cast<unsigned char>(lowerPrefix[i]))
      return false;
  }
  return true;
}

/// Whether the sizeof(Word) bytes at `text` spell `lowerWord`, a word of
/// ASCII letters as long, in any letter case. Setting bit 5 folds a letter to
/// lower case; only the two cases of a letter fold to that letter.
template <typename Word>
bool isLetterWordNoCase(const char* text, const char* lowerWord) {
  Word written;
  Word wanted;
  std::memcpy(&written, text, sizeof(Word));
  std::memcpy(&wanted, lowerWord, sizeof(Word));
  Word foldBits = 0;
  std::memset(&foldBits, 0x20, sizeof(Word));
  return (written | foldBits) == wanted;
}

/// One parameter as written: its base name in lower case, its section number
/// (-1 for none), whether it is extended (a final '*'), and its value with
/// quotes and backslash escapes removed.
struct Parameter {
  std::string base;
  long section = -1;
  bool extended = false;
  std::string value;
};

/// Splits "filename*1*" into base "filename", section 1, extended. A name
/// whose section is not a number is kept whole and matches nothing.
void splitName(std::string name, Parameter& parameter) {
  if (!name.empty() && name.back() == '*') {
    parameter.extended = true;
    name.pop_back();
  }
  const std::size_t star = name.rfind('*');
  if (star != std::string::npos && star + 1 < name.size() && star + 6 > name.size() &&
      std::all_of(name.begin() + static_cast<std::ptrdiff_t>(star) + 1, name.end(),
                  [](char byte) { return byte >= '0' && byte <= '9'; })) {
    parameter.section = std::stol(name.substr(star + 1));
    name.resize(star);
  }
  parameter.base = std::move(name);
}

/// Where the value starting at `at` (after the '=' and any blanks) lies:
/// [begin, end) as written, quotes left out, and `stop`, where the parameter
/// ends (its ';' or the end of the text). Read in one pass, byte by byte: a
/// value is short, and a call per byte looked for costs more than the look.
struct ValueSpan {
  std::size_t begin = 0;
  std::size_t end = 0;
  std::size_t stop = 0;
  bool escaped = false;  ///< a quoted value with backslash escapes, to be taken out
  bool marked = false;   ///< a '?' in it: only then can it hold an encoded word
};

ValueSpan scanValue(const char* text, std::size_t at, std::size_t end) {
  ValueSpan span;
  span.begin = at;
  std::size_t i = at;
  if (at < end && text[at] == '"') {
    // The first quote closes the value unless a backslash comes before it.
    for (i = at + 1; i < end && text[i] != '"'; ++i) {
      span.marked |= text[i] == '?';
      if (text[i] == '\\' && i + 1 < end) {
        span.escaped = true;
        ++i;
      }
    }
    span.begin = at + 1;
    span.end = i;
  }
  // Anything between the closing quote and the ';' is not part of the value.
  for (; i < end && text[i] != ';'; ++i) span.marked |= text[i] == '?';
  span.stop = i;
  if (span.begin == at) {
    span.end = span.stop;
    while (span.end > at && isBlank(text[span.end - 1])) --span.end;
  }
  return span;
}

/// The value's bytes, escapes taken out.
std::string valueText(const char* text, const ValueSpan& span) {
  if (!span.escaped) return std::string(text + span.begin, span.end - span.begin);
  std::string value;
  for (std::size_t k = span.begin; k < span.end; ++k) {
    if (text[k] == '\\') ++k;
    value.push_back(text[k]);
  }
  return value;
}

std::string percentDecoded(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size() && hexDigitValue(text[i + 1]) >= 0 &&
        hexDigitValue(text[i + 2]) >= 0) {
      out.push_back(static_cast<char>(hexDigitValue(text[i + 1]) * 16 + hexDigitValue(text[i + 2])));
      i += 2;
    } else {
      out.push_back(text[i]);
    }
  }
  return out;
}

/// "charset'language'text" less its first two parts; a value without both
/// quotes is taken whole, as clients show it.
std::string withoutCharset(const std::string& value) {
  const std::size_t first = value.find('\'');
  if (first == std::string::npos) return value;
  const std::size_t second = value.find('\'', first + 1);
  if (second == std::string::npos) return value;
  return value.substr(second + 1);
}

bool mayHoldEncodedWord(std::string_view value) {
  // '?' is rarer in a file name than '=', so it is the one looked for.
  const char* text = value.data();
  const std::size_t size = value.size();
  for (std::size_t at = 1; at < size;) {
    const void* mark = std::memchr(text + at, '?', size - at);
    if (mark == nullptr) return false;
    at = static_cast<std::size_t>(static_cast<const char*>(mark) - text);
    if (text[at - 1] == '=') return true;
    ++at;
  }
  return false;
}

/// The charset an extended value names before its first quote; empty when
/// it has not both quotes.
std::string_view charsetOf(const std::string& value) {
  const std::size_t first = value.find('\'');
  if (first == std::string::npos || value.find('\'', first + 1) == std::string::npos) return {};
  return std::string_view(value).substr(0, first);
}

/// Where one field's names go: the shown names and, with a converter, their
/// UTF-8 readings beside the bytes as decoded.
struct NameSink {
  ShownNames& names;
  CharsetConverter* charsets;

  /// A plain value: its encoded words decoded, in every reading.
  void addPlain(std::string value) {
    if (!mayHoldEncodedWord(value)) {
      names.add(std::move(value));
      return;
    }
    if (charsets == nullptr) {
      names.add(decodeEncodedWords(value));
      return;
    }
    std::vector<std::string> utf8Readings;
    names.add(decodeEncodedWords(value, *charsets, utf8Readings));
    for (std::string& reading : utf8Readings) names.add(std::move(reading));
  }

  /// Bytes in `charset`, as they are and in UTF-8.
  void addInCharset(std::string_view charset, const std::string& bytes) {
    names.add(std::string_view(bytes));
    if (charsets != nullptr && !charset.empty()) addConverted(charset, bytes);
  }

  /// Only the UTF-8 readings of bytes in `charset` (in either byte order
  /// when it leaves that to a mark they lack).
  void addConverted(std::string_view charset, const std::string& bytes) {
    std::string utf8;
    if (charsets->appendUtf8(charset, bytes, utf8)) names.add(std::move(utf8));
    utf8.clear();
    if (CharsetConverter::needsBothOrders(charset, bytes) &&
        charsets->appendUtf8(charset, bytes, utf8, CharsetConverter::UnmarkedOrder::littleEndian))
      names.add(std::move(utf8));
  }
};

/// Adds the value at `at` to the sink as a plain value, copying it only
/// when it is a new name (the same name in Content-Type and
/// Content-Disposition is the rule). Returns where the parameter ends.
std::size_t addPlainValue(const char* text, std::size_t at, std::size_t end, NameSink& sink) {
  const ValueSpan span = scanValue(text, at, end);
  const std::string_view written(text + span.begin, span.end - span.begin);
  if (span.escaped) {
    sink.addPlain(valueText(text, span));
  } else if (span.marked && mayHoldEncodedWord(written)) {
    sink.addPlain(std::string(written));
  } else {
    sink.names.add(written);
  }
  return span.stop;
}

/// The parameters after the field's own value (its first ';'): a name given
/// whole is added to `names` at once; the sections of continued ones are
/// returned, to be joined when all are known.
std::vector<Parameter> parseParameters(const char* text, std::size_t begin, std::size_t end, NameSink& sink) {
  std::vector<Parameter> parameters;
  std::size_t i = begin;
  while (i < end) {
    while (i < end && (isBlank(text[i]) || text[i] == ';')) ++i;
    std::size_t nameEnd = i;
    while (nameEnd < end && text[nameEnd] != '=' && text[nameEnd] != ';') ++nameEnd;
    if (nameEnd == end || text[nameEnd] == ';') {
      i = nameEnd;
      continue;
    }
    std::size_t nameLast = nameEnd;
    while (nameLast > i && isBlank(text[nameLast - 1])) --nameLast;
    std::size_t valueAt = nameEnd + 1;
    while (valueAt < end && isBlank(text[valueAt])) ++valueAt;
    // A plain `name` or `filename`, the common case, goes straight in.
    const std::size_t nameLength = nameLast - i;
    if ((nameLength == 4 && isLetterWordNoCase<std::uint32_t>(text + i, "name")) ||
        (nameLength == 8 && isLetterWordNoCase<std::uint64_t>(text + i, "filename"))) {
      i = addPlainValue(text, valueAt, end, sink);
      continue;
    }
    // Other parameters (boundary, charset ...) are only stepped over.
    if (!startsWithNoCase(text + i, nameLast - i, "name") &&
        !startsWithNoCase(text + i, nameLast - i, "filename")) {
      i = scanValue(text, valueAt, end).stop;
      continue;
    }
    Parameter parameter;
    splitName(lowered(text + i, nameLast - i), parameter);
    const ValueSpan span = scanValue(text, valueAt, end);
    parameter.value = valueText(text, span);
    i = span.stop;
    if (parameter.base != "name" && parameter.base != "filename") continue;
    if (parameter.section < 0) {
      if (parameter.extended) {
        sink.addInCharset(charsetOf(parameter.value), percentDecoded(withoutCharset(parameter.value)));
      } else {
        sink.addPlain(std::move(parameter.value));
      }
      continue;
    }
    if (parameters.size() == maxNameParameters) parameters.pop_back();
    parameters.push_back(std::move(parameter));
  }
  return parameters;
}

/// The UTF-8 readings of joined sections: each run of extended sections
/// converted from `charset`, the plain ones taken as they are.
void addConvertedSections(const std::vector<const Parameter*>& sections, std::string_view charset,
                          NameSink& sink) {
  std::string extendedBytes;
  for (const Parameter* section : sections) {
    if (section->extended)
      extendedBytes +=
          percentDecoded(section->section == 0 ? withoutCharset(section->value) : section->value);
  }
  const bool bothOrders = CharsetConverter::needsBothOrders(charset, extendedBytes);
  for (const auto order :
       {CharsetConverter::UnmarkedOrder::bigEndian, CharsetConverter::UnmarkedOrder::littleEndian}) {
    if (order == CharsetConverter::UnmarkedOrder::littleEndian && !bothOrders) break;
    std::string utf8;
    std::string pending;
    bool converted = false;
    const auto flush = [&] {
      if (pending.empty()) return;
      if (sink.charsets->appendUtf8(charset, pending, utf8, order)) {
        converted = true;
      } else {
        utf8 += pending;
      }
      pending.clear();
    };
    for (const Parameter* section : sections) {
      if (section->extended) {
        pending += percentDecoded(section->section == 0 ? withoutCharset(section->value) : section->value);
      } else {
        flush();
        utf8 += section->value;
      }
    }
    flush();
    if (converted) sink.names.add(std::move(utf8));
  }
}

/// Joins the sections of one base in number order, the first of equal
/// numbers winning, and adds the result. The charset the first section names
/// holds for the extended sections; a run of them is converted as one text,
/// as a character may be split between two.
void addJoinedSections(std::vector<const Parameter*> sections, NameSink& sink) {
  std::stable_sort(sections.begin(), sections.end(),
                   [](const Parameter* a, const Parameter* b) { return a->section < b->section; });
  std::vector<const Parameter*> distinct;
  for (const Parameter* section : sections) {
    if (distinct.empty() || distinct.back()->section != section->section) distinct.push_back(section);
  }
  std::string joined;
  bool anyExtended = false;
  for (const Parameter* section : distinct) {
    if (!section->extended) {
      joined += section->value;
      continue;
    }
    anyExtended = true;
    joined += percentDecoded(section->section == 0 ? withoutCharset(section->value) : section->value);
  }
  if (!anyExtended) {
    sink.addPlain(std::move(joined));
    return;
  }
  const std::string_view charset = distinct.front()->section == 0 && distinct.front()->extended
                                       ? charsetOf(distinct.front()->value)
                                       : std::string_view();
  sink.names.add(std::string_view(joined));
  if (sink.charsets != nullptr && !charset.empty()) addConvertedSections(distinct, charset, sink);
}

bool equalsNoCase(const char* text, const char* lowerName, std::size_t length) {
  for (std::size_t i = 0; i < length; ++i) {
    if (foldAscii(static_cast<unsigned char>(text[i])) != static_cast<unsigned char>(lowerName[i]))
      return false;
  }
  return true;
}

/// The length of "Content-Type" or "Content-Disposition" and the blanks up to
/// and including the colon; 0 when the field is neither.
std::size_t parameterFieldStart(const char* text, std::size_t size) {
  // The usual spelling is matched as it is.
  if (!mayBeParameterField(text, size)) return 0;
  const bool type = (text[8] | 0x20) == 't';
  const char* usual = type ? "Content-Type" : "Content-Disposition";
  const char* lower = type ? "content-type" : "content-disposition";
  const std::size_t length = type ? 12 : 19;
  if (size < length || (std::memcmp(text, usual, length) != 0 && !equalsNoCase(text, lower, length)))
    return 0;
  std::size_t i = length;
  while (i < size && (text[i] == ' ' || text[i] == '\t')) ++i;
  return i < size && text[i] == ':' ? i + 1 : 0;
}

/// Adds the names of the parameters in [begin, end): those given whole at
/// once, continued ones joined when all their sections are known.
void addParameterNames(const char* text, std::size_t begin, std::size_t end, NameSink& sink) {
  const std::vector<Parameter> parameters = parseParameters(text, begin, end, sink);
  // Only the two bases are kept, so two flags say which are joined already.
  bool nameJoined = false;
  bool filenameJoined = false;
  for (std::size_t i = 0; i < parameters.size(); ++i) {
    const Parameter& parameter = parameters[i];
    bool& joined = parameter.base == "name" ? nameJoined : filenameJoined;
    if (joined) continue;
    joined = true;
    std::vector<const Parameter*> sections;
    for (std::size_t j = i; j < parameters.size(); ++j) {
      if (parameters[j].section >= 0 && parameters[j].base == parameter.base &&
          parameters[j].section <= static_cast<long>(maxSectionNumber)) {
        sections.push_back(&parameters[j]);
      }
    }
    if (!sections.empty()) addJoinedSections(std::move(sections), sink);
  }
}

bool isWhiteSpace(char byte) { return byte == ' ' || (byte >= '\t' && byte <= '\r'); }

/// A client that strips a name's white space at both ends shows
/// " invoice.exe\t" as "invoice.exe": each name added since `from` is
/// added again so.
void addStrippedForms(ShownNames& names, std::size_t from) {
  std::vector<std::string> stripped;
  for (std::size_t i = from; i < names.inOrder().size(); ++i) {
    const std::string& name = names.inOrder()[i];
    std::size_t begin = 0;
    std::size_t end = name.size();
    while (begin < end && isWhiteSpace(name[begin])) ++begin;
    while (end > begin && isWhiteSpace(name[end - 1])) --end;
    if (end - begin != name.size()) stripped.push_back(name.substr(begin, end - begin));
  }
  for (std::string& name : stripped) names.add(std::move(name));
}

/// The length of "Content-Name" or "X-Sun-Data-Name" and the blanks up to
/// and including the colon; 0 when the field is neither.
std::size_t fallbackFieldStart(const char* text, std::size_t size) {
  if (!mayBeFallbackNameField(text, size)) return 0;
  const bool content = (text[0] | 0x20) == 'c';
  const char* lower = content ? "content-name" : "x-sun-data-name";
  const std::size_t length = content ? 12 : 15;
  if (size < length || !equalsNoCase(text, lower, length)) return 0;
  std::size_t i = length;
  while (i < size && (text[i] == ' ' || text[i] == '\t')) ++i;
  return i < size && text[i] == ':' ? i + 1 : 0;
}

}  // namespace

void collectShownNames(const String& field, ShownNames& names, CharsetConverter* charsets) {
  const char* text = field.cStr();
  const std::size_t size = field.length();
  const std::size_t valueStart = parameterFieldStart(text, size);
  if (valueStart == 0) return;
  NameSink sink{names, charsets};
  const std::size_t namesBefore = names.inOrder().size();
  const void* semicolon = std::memchr(text + valueStart, ';', size - valueStart);
  if (semicolon != nullptr) {
    const std::size_t begin = static_cast<std::size_t>(static_cast<const char*>(semicolon) - text) + 1;
    addParameterNames(text, begin, size, sink);
  }
  // Only a field with an oddity is read a second time.
  const std::string_view value(text + valueStart, size - valueStart);
  if (mayNeedLenientReading(value)) {
    const std::string lenient = lenientParameterList(value);
    addParameterNames(lenient.data(), 0, lenient.size(), sink);
  }
  addStrippedForms(names, namesBefore);
}

void collectFallbackNames(const String& field, ShownNames& names, CharsetConverter* charsets) {
  const char* text = field.cStr();
  const std::size_t size = field.length();
  const std::size_t valueStart = fallbackFieldStart(text, size);
  if (valueStart == 0) return;
  std::size_t begin = valueStart;
  std::size_t end = size;
  while (begin < end && isBlank(text[begin])) ++begin;
  while (end > begin && isBlank(text[end - 1])) --end;
  if (begin == end) return;
  const std::size_t namesBefore = names.inOrder().size();
  NameSink sink{names, charsets};
  sink.addPlain(std::string(text + begin, end - begin));
  if (end - begin >= 2 && text[begin] == '"' && text[end - 1] == '"')
    sink.addPlain(std::string(text + begin + 1, end - begin - 2));
  addStrippedForms(names, namesBefore);
}

}  // namespace zentry
