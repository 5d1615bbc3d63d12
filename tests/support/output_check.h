#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace zentry::test {

/// True when every LF has a CR before it, every CR an LF after it, and the
/// text ends at a line end (or is empty): what the host reads line by line.
bool hasCompleteLines(const std::string& text);

/// The lines of the text, each with its line end; bytes after the last LF
/// are left out.
std::vector<std::string> splitLines(const std::string& text);

/// Bytes shown with their control characters escaped, for failure messages.
inline std::string visible(const std::string& bytes) {
  std::string out;
  for (const char raw : bytes) {
    const auto byte = static_cast<unsigned char>(raw);
    char escaped[8];
    std::snprintf(escaped, sizeof escaped, byte >= 0x20 && byte < 0x7f && byte != '\\' ? "%c" : "\\x%02x",
                  byte);
    out += escaped;
  }
  return out;
}

}  // namespace zentry::test
