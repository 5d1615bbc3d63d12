#include "scanner/yenc.h"

#include <cstring>
#include <string_view>

namespace zentry {
namespace {

bool isBlank(char c) { return c == ' ' || c == '\t'; }

bool allDigits(std::string_view text) {
  if (text.empty()) return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

std::string_view withoutLineEnd(std::string_view text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || isBlank(text.back())))
    text.remove_suffix(1);
  return text;
}

}  // namespace

std::string yencFileName(const char* line, std::size_t size) {
  static const char opening[] = "=ybegin";
  const std::size_t openingSize = sizeof opening - 1;
  if (size <= openingSize || std::memcmp(line, opening, openingSize) != 0 || !isBlank(line[openingSize]))
    return std::string();
  const std::string_view text = withoutLineEnd(std::string_view(line, size));
  bool lineLength = false;
  bool fileSize = false;
  std::size_t at = openingSize;
  while (at < text.size()) {
    while (at < text.size() && isBlank(text[at])) ++at;
    if (at == text.size()) break;
    const std::string_view rest = text.substr(at);
    if (rest.compare(0, 5, "name=") == 0) {
      if (!lineLength || !fileSize) return std::string();
      return std::string(rest.substr(5));
    }
    std::size_t end = at;
    while (end < text.size() && !isBlank(text[end])) ++end;
    const std::string_view keyword = text.substr(at, end - at);
    const std::size_t equals = keyword.find('=');
    if (equals == std::string_view::npos) return std::string();  // a word: prose, not a header
    const std::string_view value = keyword.substr(equals + 1);
    if (keyword.compare(0, equals, "line") == 0) lineLength = allDigits(value);
    if (keyword.compare(0, equals, "size") == 0) fileSize = allDigits(value);
    at = end;
  }
  return std::string();
}

}  // namespace zentry
