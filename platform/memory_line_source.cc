#include "platform/memory_line_source.h"

namespace zentry {

std::size_t MemoryLineSource::readLine(char* buffer, std::size_t limit) {
  std::size_t out = 0;
  while (out + 1 < limit && next_ < bytes_.size()) {
    const char byte = bytes_[next_];
    if (byte == '\x1a' && endsAtSubstitute_) break;  // the end of the readable content
    if (byte == '\r' && next_ + 1 < bytes_.size() && bytes_[next_ + 1] == '\n') {
      buffer[out++] = '\n';
      next_ += 2;
      break;
    }
    buffer[out++] = byte;
    ++next_;
    if (byte == '\n') break;
  }
  if (out != 0) buffer[out] = '\0';
  return out;
}

bool MemoryLineSource::tell(std::uint32_t* position) {
  const std::uint64_t offset = baseOffset_ + next_;
  if (positionsFail_ || offset >= failedPosition) return false;
  *position = static_cast<std::uint32_t>(offset);
  return true;
}

bool MemoryLineSource::seek(std::uint32_t position) {
  if (position < baseOffset_) return false;
  next_ = position - baseOffset_;
  if (next_ > bytes_.size()) next_ = bytes_.size();
  return true;
}

}  // namespace zentry
