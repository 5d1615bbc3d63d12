#include "scanner/reading_watch.h"

#include <cstring>

namespace zentry {

std::size_t WatchedLineSource::watched(const char* buffer, std::size_t delivered) {
  if (delivered != 0) {
    if (std::memchr(buffer, 0, delivered) != nullptr) sawNul_ = true;
    return delivered;
  }
  // The end of the text, or a failed read, which ends it just the same.
  // Every end met must be the same one for the text to end there.
  std::uint32_t position = 0;
  if (!inner_.tell(&position) || (reachedEnd_ && position != endPosition_)) endUnknown_ = true;
  reachedEnd_ = true;
  endPosition_ = position;
  return 0;
}

}  // namespace zentry
