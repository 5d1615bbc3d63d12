#include "support/plain_line_reader.h"

#include <cstring>

namespace zentry::test {

std::size_t PlainLineReader::readLine(char* buffer, std::size_t limit) {
  std::string line;
  while (line.size() + 1 < limit && readable(next_)) {
    const char byte = bytes_[next_++];
    if (byte == '\r' && readable(next_) && bytes_[next_] == '\n') {
      ++next_;
      line += '\n';
      break;
    }
    line += byte;
    if (byte == '\n') break;
  }
  if (line.empty()) return 0;
  std::memcpy(buffer, line.data(), line.size());
  buffer[line.size()] = '\0';
  return line.size();
}

bool PlainLineReader::tell(std::uint32_t* position) {
  if (next_ >= failedPosition) return false;
  *position = static_cast<std::uint32_t>(next_);
  return true;
}

bool PlainLineReader::seek(std::uint32_t position) {
  next_ = position;
  return true;
}

}  // namespace zentry::test
