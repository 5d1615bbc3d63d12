#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/line_source.h"

namespace zentry {

/// A reading passed through unchanged while it is watched for what strict
/// mode's walk and exact mode's part on: a NUL byte in a line the walk was
/// handed, and the end of the text (exact mode's stops at the first 0x1A).
/// Lines passed over unread are not seen: NULs in them change no walk.
class WatchedLineSource : public LineSource {
 public:
  explicit WatchedLineSource(LineSource& inner) : inner_(inner) {}

  std::size_t readLine(char* buffer, std::size_t limit) override {
    return watched(buffer, inner_.readLine(buffer, limit));
  }
  std::size_t readLineTo(char* buffer, std::size_t limit, std::uint32_t* position) override {
    return watched(buffer, inner_.readLineTo(buffer, limit, position));
  }
  std::size_t readMarkedLine(char* buffer, std::size_t limit, const char* marks,
                             std::uint32_t endOffset) override {
    return watched(buffer, inner_.readMarkedLine(buffer, limit, marks, endOffset));
  }
  bool tell(std::uint32_t* position) override { return inner_.tell(position); }
  bool seek(std::uint32_t position) override { return inner_.seek(position); }

  /// Whether a line handed out held a NUL byte.
  bool sawNul() const { return sawNul_; }
  /// Whether the end of the text was met, and where it lies: only then is
  /// endPosition meaningful.
  bool reachedEnd() const { return reachedEnd_ && !endUnknown_; }
  std::uint32_t endPosition() const { return endPosition_; }

 private:
  std::size_t watched(const char* buffer, std::size_t delivered);

  LineSource& inner_;
  bool sawNul_ = false;
  bool reachedEnd_ = false;
  bool endUnknown_ = false;  // the position of an end could not be told
  std::uint32_t endPosition_ = 0;
};

}  // namespace zentry
