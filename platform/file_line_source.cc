#include "platform/file_line_source.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace zentry {

std::unique_ptr<FileLineSource> FileLineSource::open(const char* path) {
  const int descriptor = ::open(path, O_RDONLY | O_CLOEXEC);
  if (descriptor < 0) return nullptr;
  return std::unique_ptr<FileLineSource>(new FileLineSource(descriptor));
}

FileLineSource::FileLineSource(int descriptor) : descriptor_(descriptor), block_(blockSize) {}

FileLineSource::~FileLineSource() { ::close(descriptor_); }

bool FileLineSource::refill() {
  if (atEnd_) return false;
  const std::size_t kept = filled_ - next_;
  if (next_ > 0) {
    std::memmove(block_.data(), block_.data() + next_, kept);
    blockOffset_ += next_;
    next_ = 0;
    filled_ = kept;
  }
  ssize_t got;
  do {
    got = ::read(descriptor_, block_.data() + filled_, block_.size() - filled_);
  } while (got < 0 && errno == EINTR);
  if (got <= 0) {
    atEnd_ = true;  // a read error counts as the end of the file
    return false;
  }
  filled_ += static_cast<std::size_t>(got);
  return true;
}

std::size_t FileLineSource::readLine(char* buffer, std::size_t limit) {
  std::size_t out = 0;
  const std::size_t most = limit - 1;
  while (out < most) {
    if (next_ == filled_ && !refill()) break;
    const char* start = block_.data() + next_;
    const std::size_t span = std::min(filled_ - next_, most - out);
    const auto* lf = static_cast<const char*>(std::memchr(start, '\n', span));
    std::size_t take = lf != nullptr ? static_cast<std::size_t>(lf - start) + 1 : span;
    // Only a CR or a 0x1A byte needs more than a copy.
    const auto* cr = static_cast<const char*>(std::memchr(start, '\r', take));
    const auto* eof = static_cast<const char*>(std::memchr(start, '\x1a', take));
    const char* special = cr == nullptr ? eof : (eof == nullptr || cr < eof ? cr : eof);
    if (special == nullptr) {
      std::memcpy(buffer + out, start, take);
      out += take;
      next_ += take;
      if (lf != nullptr) break;
      continue;
    }
    take = static_cast<std::size_t>(special - start);
    std::memcpy(buffer + out, start, take);
    out += take;
    next_ += take;
    if (*special == '\x1a') {
      atEnd_ = true;
      filled_ = next_;  // nothing after the 0x1A is readable
      break;
    }
    // A CR: look at the byte after it, which may lie beyond this block.
    if (next_ + 1 == filled_) refill();
    if (next_ + 1 < filled_ && block_[next_ + 1] == '\n') {
      buffer[out++] = '\n';
      next_ += 2;
      break;
    }
    buffer[out++] = '\r';
    ++next_;
  }
  buffer[out] = '\0';
  return out;
}

bool FileLineSource::tell(std::uint32_t* position) {
  const std::uint64_t offset = blockOffset_ + next_;
  if (offset >= failedPosition) return false;
  *position = static_cast<std::uint32_t>(offset);
  return true;
}

bool FileLineSource::seek(std::uint32_t position) {
  // A 0x1A ends only the current pass; content before it stays readable.
  if (!atEnd_ && position >= blockOffset_ && position <= blockOffset_ + filled_) {
    next_ = static_cast<std::size_t>(position - blockOffset_);
    return true;
  }
  if (::lseek(descriptor_, static_cast<off_t>(position), SEEK_SET) < 0) return false;
  blockOffset_ = position;
  filled_ = 0;
  next_ = 0;
  atEnd_ = false;
  return true;
}

}  // namespace zentry
