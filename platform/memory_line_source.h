#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/line_source.h"

namespace zentry {

/// A LineSource over bytes held in memory, with the same text reading as the
/// file-backed one. `baseOffset` is added to every position, so tests can put
/// a message near the 4 GiB edge without writing one.
class MemoryLineSource : public LineSource {
 public:
  explicit MemoryLineSource(std::string bytes, std::uint64_t baseOffset = 0,
                            TextReading reading = TextReading::Exact)
      : owned_(std::move(bytes)),
        bytes_(owned_),
        baseOffset_(baseOffset),
        endsAtSubstitute_(reading == TextReading::Exact) {}
  /// Reads bytes the caller keeps alive and unchanged while this source lives,
  /// so a large message held elsewhere is not copied.
  struct Borrowed {};
  MemoryLineSource(Borrowed, std::string_view bytes, TextReading reading = TextReading::Exact)
      : bytes_(bytes), baseOffset_(0), endsAtSubstitute_(reading == TextReading::Exact) {}

  // bytes_ may point into owned_, so a copy would read its original's bytes.
  MemoryLineSource(const MemoryLineSource&) = delete;
  MemoryLineSource& operator=(const MemoryLineSource&) = delete;

  std::size_t readLine(char* buffer, std::size_t limit) override;
  bool tell(std::uint32_t* position) override;
  bool seek(std::uint32_t position) override;

  /// Makes every later position query fail.
  void failPositionQueries() { positionsFail_ = true; }

 private:
  std::string owned_;       // empty when the bytes are borrowed
  std::string_view bytes_;  // owned_ or the borrowed bytes
  std::uint64_t baseOffset_;
  bool endsAtSubstitute_;
  std::uint64_t next_ = 0;  // index into bytes_
  bool positionsFail_ = false;
};

}  // namespace zentry
