#include "scanner/mime_parameters.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "core/hex_digit.h"
#include "platform/text_compare.h"
#include "scanner/encoded_text.h"

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

std::string decodedPlainValue(std::string value) {
  if (!mayHoldEncodedWord(value)) return value;  // moved out, not copied
  return decodeEncodedWords(value);
}

/// Adds the value at `at` to `names` as decodedPlainValue gives it, copying
/// it only when it is a new name (the same name in Content-Type and
/// Content-Disposition is the rule). Returns where the parameter ends.
std::size_t addPlainValue(const char* text, std::size_t at, std::size_t end, ShownNames& names) {
  const ValueSpan span = scanValue(text, at, end);
  const std::string_view written(text + span.begin, span.end - span.begin);
  if (span.escaped) {
    names.add(decodedPlainValue(valueText(text, span)));
  } else if (span.marked && mayHoldEncodedWord(written)) {
    names.add(decodeEncodedWords(std::string(written)));
  } else {
    names.add(written);
  }
  return span.stop;
}

/// The parameters after the field's own value (its first ';'): a name given
/// whole is added to `names` at once; the sections of continued ones are
/// returned, to be joined when all are known.
std::vector<Parameter> parseParameters(const char* text, std::size_t begin, std::size_t end,
                                       ShownNames& names) {
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
      i = addPlainValue(text, valueAt, end, names);
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
      names.add(parameter.extended ? percentDecoded(withoutCharset(parameter.value))
                                   : decodedPlainValue(std::move(parameter.value)));
      continue;
    }
    if (parameters.size() == maxNameParameters) parameters.pop_back();
    parameters.push_back(std::move(parameter));
  }
  return parameters;
}

/// Joins the sections of `base` in number order; the first of equal numbers wins.
std::string joinedSections(std::vector<const Parameter*> sections) {
  std::stable_sort(sections.begin(), sections.end(),
                   [](const Parameter* a, const Parameter* b) { return a->section < b->section; });
  std::string joined;
  bool anyExtended = false;
  long previous = -1;
  for (const Parameter* section : sections) {
    if (section->section == previous) continue;
    previous = section->section;
    if (!section->extended) {
      joined += section->value;
      continue;
    }
    anyExtended = true;
    joined += percentDecoded(section->section == 0 ? withoutCharset(section->value) : section->value);
  }
  return anyExtended ? joined : decodeEncodedWords(joined);
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

}  // namespace

void ShownNames::add(std::string name) {
  if (name.empty()) return;
  if (inOrder_.size() < linearSearchLimit) {
    if (std::find(inOrder_.begin(), inOrder_.end(), name) != inOrder_.end()) return;
  } else if (!addToSet(name)) {
    return;
  }
  makeRoomForOneMore();
  inOrder_.push_back(std::move(name));
}

void ShownNames::add(std::string_view name) {
  if (name.empty()) return;
  // A part shows one or two names as a rule: a look along the list is
  // cheapest then, and the set takes over only for a part that shows many.
  // The name is copied only once it is known to be new.
  if (inOrder_.size() < linearSearchLimit) {
    if (std::find(inOrder_.begin(), inOrder_.end(), name) != inOrder_.end()) return;
  } else if (!addToSet(std::string(name))) {
    return;
  }
  makeRoomForOneMore();
  inOrder_.emplace_back(name);
}

bool ShownNames::addToSet(const std::string& name) {
  if (held_ == nullptr) held_ = std::make_unique<std::unordered_set<std::string>>();
  if (held_->empty()) held_->insert(inOrder_.begin(), inOrder_.end());
  return held_->insert(name).second;
}

void ShownNames::makeRoomForOneMore() {
  if (inOrder_.size() < maxNames) return;
  if (held_ != nullptr) held_->erase(inOrder_.back());
  inOrder_.pop_back();
}

bool ShownNames::contains(std::string_view name) const {
  if (held_ == nullptr || held_->empty())
    return std::find(inOrder_.begin(), inOrder_.end(), name) != inOrder_.end();
  return held_->count(std::string(name)) != 0;
}

void ShownNames::clear() {
  inOrder_.clear();
  // Clearing even an empty set walks its buckets; most parts never fill it.
  if (held_ != nullptr && !held_->empty()) held_->clear();
}

void collectShownNames(const String& field, ShownNames& names) {
  const char* text = field.cStr();
  const std::size_t size = field.length();
  const std::size_t valueStart = parameterFieldStart(text, size);
  if (valueStart == 0) return;
  const void* semicolon = std::memchr(text + valueStart, ';', size - valueStart);
  if (semicolon == nullptr) return;
  const std::size_t begin = static_cast<std::size_t>(static_cast<const char*>(semicolon) - text) + 1;
  const std::vector<Parameter> parameters = parseParameters(text, begin, size, names);
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
    names.add(joinedSections(std::move(sections)));
  }
}

}  // namespace zentry
