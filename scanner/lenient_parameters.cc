#include "scanner/lenient_parameters.h"

#include <cstddef>

namespace zentry {
namespace {

bool isBlank(char byte) { return byte == ' ' || byte == '\t' || byte == '\r' || byte == '\n'; }

/// Where the quoted string opening at `at` ends: after its closing quote,
/// or at the end of the value when it has none.
std::size_t quotedStringEnd(std::string_view value, std::size_t at) {
  std::size_t i = at + 1;
  while (i < value.size() && value[i] != '"') i += value[i] == '\\' ? 2 : 1;
  return i < value.size() ? i + 1 : value.size();
}

/// Where the comment opening at `at` ends: after the ')' that closes it, or
/// at the end of the value when none does.
std::size_t commentEnd(std::string_view value, std::size_t at) {
  std::size_t depth = 0;
  std::size_t i = at;
  while (i < value.size()) {
    const char byte = value[i];
    if (byte == '\\') {
      i += 2;
      continue;
    }
    ++i;
    if (byte == '(') ++depth;
    if (byte == ')' && --depth == 0) return i;
  }
  return value.size();
}

}  // namespace

bool mayNeedLenientReading(std::string_view value) {
  std::size_t equals = 0;
  std::size_t semicolons = 0;
  for (std::size_t i = 0; i < value.size();) {
    const char byte = value[i];
    if (byte == '"') {
      i = quotedStringEnd(value, i);
      continue;
    }
    if (byte == '(' || byte == ',') return true;
    equals += byte == '=' ? 1 : 0;
    semicolons += byte == ';' ? 1 : 0;
    ++i;
  }
  return equals > semicolons;
}

std::string lenientParameterList(std::string_view value) {
  std::string out;
  out.reserve(value.size());
  bool blankSeen = false;
  // A blank, a comment or a quoted string's start separates the word before
  // it from the one after it, unless either side is a separator or '='.
  const auto separateIfBlank = [&] {
    if (blankSeen && !out.empty() && out.back() != ';' && out.back() != '=') out.push_back(';');
    blankSeen = false;
  };
  for (std::size_t i = 0; i < value.size();) {
    const char byte = value[i];
    if (byte == '"') {
      separateIfBlank();
      const std::size_t end = quotedStringEnd(value, i);
      out.append(value.substr(i, end - i));
      i = end;
    } else if (byte == '(') {
      i = commentEnd(value, i);
      blankSeen = true;
    } else if (byte == ';' || byte == ',' || byte == '=') {
      out.push_back(byte == ',' ? ';' : byte);
      blankSeen = false;
      ++i;
    } else if (isBlank(byte)) {
      blankSeen = true;
      ++i;
    } else {
      separateIfBlank();
      out.push_back(byte);
      ++i;
    }
  }
  return out;
}

}  // namespace zentry
