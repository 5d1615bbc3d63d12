#include "platform/file_line_source.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace zentry {
namespace {

constexpr char endOfText = '\x1a';

std::size_t indexOf(const char* base, std::size_t from, std::size_t to, char byte) {
  const void* hit = std::memchr(base + from, byte, to - from);
  return hit == nullptr ? to : static_cast<std::size_t>(static_cast<const char*>(hit) - base);
}

}  // namespace

std::unique_ptr<FileLineSource> FileLineSource::open(const char* path, TextReading reading) {
  const int descriptor = ::open(path, O_RDONLY | O_CLOEXEC);
  if (descriptor < 0) return nullptr;
  struct stat status;
  if (::fstat(descriptor, &status) != 0 || S_ISDIR(status.st_mode)) {
    ::close(descriptor);
    return nullptr;
  }
  return std::unique_ptr<FileLineSource>(new FileLineSource(descriptor, reading));
}

FileLineSource::FileLineSource(int descriptor, TextReading reading)
    : descriptor_(descriptor),
      endsAtSubstitute_(reading == TextReading::Exact),
      block_(new char[blockCapacity]) {}

std::size_t FileLineSource::stopIn(std::size_t from, std::size_t to) const {
  return endsAtSubstitute_ ? indexOf(block_.get(), from, to, endOfText) : to;
}

FileLineSource::~FileLineSource() { ::close(descriptor_); }

void FileLineSource::fill(std::size_t wanted) {
  // Keep only what is unread; at most one line's worth is moved.
  const std::size_t kept = filled_ - next_;
  std::memmove(block_.get(), block_.get() + next_, kept);
  blockOffset_ += next_;
  filled_ = kept;
  stop_ -= next_;
  searchedFrom_ = 0;
  next_ = 0;
  const std::size_t searchedTo = filled_;
  while (filled_ < wanted && filled_ < blockCapacity && !fileEnded_) {
    const ssize_t got = ::pread(descriptor_, block_.get() + filled_, blockCapacity - filled_,
                                static_cast<off_t>(blockOffset_ + filled_));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      fileEnded_ = true;  // a read error counts as the end of the file
      break;
    }
    filled_ += static_cast<std::size_t>(got);
  }
  // fill() runs only while no 0x1A is known, so stop_ stood at the old end.
  stop_ = stopIn(searchedTo, filled_);
}

std::size_t FileLineSource::nextLine(std::size_t most, std::size_t* used) {
  // One byte beyond `most` must be visible to tell a CR LF at the limit from
  // a lone CR.
  if (stop_ == filled_ && filled_ - next_ <= most && !fileEnded_) fill(most + 1);
  const char* start = block_.get() + next_;
  const std::size_t window = std::min(stop_ - next_, most + 1);
  const void* lf = std::memchr(start, '\n', window);
  if (lf == nullptr) return *used = std::min(window, most);
  const std::size_t at = static_cast<std::size_t>(static_cast<const char*>(lf) - start);
  if (at > 0 && start[at - 1] == '\r') {
    // "ab\r\n" delivers "ab\n": one character fewer than the bytes used.
    *used = at + 1;
    return at;
  }
  // An LF right at the limit stays for the next read.
  return *used = std::min(at + 1, most);
}

void FileLineSource::takeLine(char* buffer, std::size_t delivered, std::size_t used) {
  std::memcpy(buffer, block_.get() + next_, delivered);
  if (delivered < used) buffer[delivered - 1] = '\n';
  buffer[delivered] = '\0';
  next_ += used;
}

std::size_t FileLineSource::readLine(char* buffer, std::size_t limit) {
  std::size_t used = 0;
  const std::size_t delivered = nextLine(limit - 1, &used);
  if (delivered == 0) return 0;  // the end: the buffer keeps its last line
  takeLine(buffer, delivered, used);
  return delivered;
}

std::size_t FileLineSource::readLineTo(char* buffer, std::size_t limit, std::uint32_t* position) {
  const std::size_t delivered = FileLineSource::readLine(buffer, limit);
  if (delivered != 0 && !FileLineSource::tell(position)) *position = failedPosition;
  return delivered;
}

std::size_t FileLineSource::markedLineAhead(char mark, std::size_t end, std::size_t most,
                                            std::size_t* plainTo) const {
  const char* base = block_.get();
  *plainTo = end;
  // A read begins after every LF, and inside a line longer than `most` at
  // each cut. Where a line is short enough to be read whole, a mark inside it
  // begins no read; a mark inside a longer one may sit right at a cut, so
  // that line is left to be read piece by piece.
  std::size_t from = next_ + 1;
  std::size_t lineStart = next_;
  while (from < end) {
    const std::size_t hit = indexOf(base, from, end, mark);
    if (hit == end) break;
    if (base[hit - 1] == '\n') return hit;
    const void* before = ::memrchr(base + lineStart, '\n', hit - lineStart);
    const std::size_t holder =
        before == nullptr ? lineStart : static_cast<std::size_t>(static_cast<const char*>(before) - base) + 1;
    const std::size_t lf = indexOf(base, hit + 1, end, '\n');
    if (lf == end) return holder;
    if (lf + 1 - holder > most) {
      *plainTo = lf + 1;
      return holder;
    }
    // A mark inside a short line: go on after the line's LF, so that each
    // step passes at least one line however many marks it holds.
    lineStart = lf + 1;
    from = lf + 1;
  }
  // No marked line in the block: pass over its whole lines.
  if (from >= end) return lineStart;
  const void* lf = ::memrchr(base + from, '\n', end - from);
  return lf == nullptr ? lineStart : static_cast<std::size_t>(static_cast<const char*>(lf) - base) + 1;
}

std::size_t FileLineSource::readMarkedLine(char* buffer, std::size_t limit, const char* marks,
                                           std::uint32_t endOffset) {
  // One mark (or none) is looked for with memchr over many lines at once; a
  // 0 byte stands for "no mark": a line it begins is still tested below.
  bool passOver = marks[0] == '\0' || marks[1] == '\0';
  // File offset up to which a search found nothing to pass over to; the
  // lines before it are read one by one, so no stretch is searched twice.
  std::uint64_t searchedTo = 0;
  for (;;) {
    if (passOver && next_ < stop_ && blockOffset_ + next_ >= searchedTo &&
        !isMarkByte(block_[next_], marks)) {
      // The lines passed over must all end below the limit: the one that
      // reaches it is delivered. Once the limit is in sight the lines are
      // read one by one.
      const std::uint64_t endIndex = endOffset > blockOffset_ ? endOffset - blockOffset_ : 0;
      const std::size_t searchEnd = static_cast<std::size_t>(std::min<std::uint64_t>(stop_, endIndex));
      std::size_t plainTo = searchEnd;
      const std::size_t ahead =
          searchEnd > next_ ? markedLineAhead(marks[0], searchEnd, limit - 1, &plainTo) : searchEnd;
      if (ahead >= endIndex) {
        passOver = false;
      } else if (ahead == next_) {
        searchedTo = blockOffset_ + plainTo;
      } else {
        next_ = ahead;
      }
    }
    std::size_t used = 0;
    const std::size_t delivered = nextLine(limit - 1, &used);
    if (delivered == 0) return 0;
    // The first byte is the same raw or delivered: only a CR LF changes, and
    // no mark is CR or LF. An end at or past 0xFFFFFFFF is a failed query,
    // which also stops here.
    const bool marked = isMarkByte(block_[next_], marks);
    if (marked || blockOffset_ + next_ + used >= endOffset) {
      takeLine(buffer, delivered, used);
      return delivered;
    }
    next_ += used;
  }
}

bool FileLineSource::tell(std::uint32_t* position) {
  const std::uint64_t offset = blockOffset_ + next_;
  if (offset >= failedPosition) return false;
  *position = static_cast<std::uint32_t>(offset);
  return true;
}

bool FileLineSource::seek(std::uint32_t position) {
  if (position >= blockOffset_ && position - blockOffset_ <= filled_) {
    const std::size_t target = static_cast<std::size_t>(position - blockOffset_);
    if (target < searchedFrom_) {
      // Going back: only the bytes not yet searched need a look.
      const std::size_t hit = stopIn(target, searchedFrom_);
      if (hit < searchedFrom_) stop_ = hit;
      searchedFrom_ = target;
    } else if (target > stop_) {
      // Past a 0x1A: the content goes on behind it for this pass.
      searchedFrom_ = target;
      stop_ = stopIn(target, filled_);
    }
    next_ = target;
    return true;
  }
  blockOffset_ = position;
  filled_ = next_ = searchedFrom_ = stop_ = 0;
  fileEnded_ = false;
  return true;
}

}  // namespace zentry
