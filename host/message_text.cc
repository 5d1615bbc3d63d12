#include "host/message_text.h"

#include <cstring>

namespace zentry::host {
namespace {

bool isBlank(char c) { return c == ' ' || c == '\t'; }

// One physical line starting at `start`, without its LF or the CR before it;
// *next is set to the start of the following line (size() at the end).
std::string lineAt(const std::string& text, std::size_t start, std::size_t* next) {
  std::size_t end = text.find('\n', start);
  *next = end == std::string::npos ? text.size() : end + 1;
  if (end == std::string::npos) end = text.size();
  if (end > start && text[end - 1] == '\r') --end;
  return text.substr(start, end - start);
}

bool equalsNoCase(const std::string& left, const char* right) {
  if (left.size() != std::strlen(right)) return false;
  for (std::size_t i = 0; i < left.size(); ++i) {
    char a = left[i];
    if (a >= 'A' && a <= 'Z') a = static_cast<char>(a - 'A' + 'a');
    if (a != right[i]) return false;
  }
  return true;
}

// The field name of a header line: the bytes before the colon, blanks before
// the colon dropped (an obsolete form servers still accept). Empty when the
// line is not a field.
std::string fieldName(const std::string& line) {
  const std::size_t colon = line.find(':');
  if (colon == std::string::npos || colon == 0) return std::string();
  std::size_t end = colon;
  while (end > 0 && isBlank(line[end - 1])) --end;
  for (std::size_t i = 0; i < end; ++i) {
    const auto c = static_cast<unsigned char>(line[i]);
    if (c <= 32 || c >= 127) return std::string();
  }
  return line.substr(0, end);
}

}  // namespace

std::string stripEnvelopeLine(const std::string& message) {
  if (message.compare(0, 5, "From ") != 0) return message;
  const std::size_t end = message.find('\n');
  return end == std::string::npos ? std::string() : message.substr(end + 1);
}

SubjectField extractSubject(const std::string& message) {
  SubjectField field;
  std::size_t next = 0;
  for (std::size_t start = 0; start < message.size(); start = next) {
    std::string line = lineAt(message, start, &next);
    if (line.empty()) break;  // end of the header block
    if (isBlank(line[0]) || !equalsNoCase(fieldName(line), "subject")) continue;
    std::string value = line.substr(line.find(':') + 1);
    while (next < message.size() && isBlank(message[next])) value += lineAt(message, next, &next);
    const std::size_t first = value.find_first_not_of(" \t");
    value.erase(0, first == std::string::npos ? value.size() : first);
    const std::size_t nul = value.find('\0');
    if (nul != std::string::npos) {
      // The environment cannot carry a NUL; the server's copy would end there too.
      value.erase(nul);
      field.cutAtNul = true;
    }
    field.value = value;
    break;
  }
  return field;
}

bool looksLikeMessage(const std::string& bytes) {
  if (bytes.compare(0, 5, "From ") == 0) return true;
  std::size_t next = 0;
  return !fieldName(lineAt(bytes, 0, &next)).empty();
}

}  // namespace zentry::host
