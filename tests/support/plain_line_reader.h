#pragma once

#include <cstdint>
#include <string>

#include "platform/line_source.h"

namespace zentry::test {

/// The text reading of a message file, one byte at a time and nothing more:
/// the oracle the block reader and its fast paths are held to. A CR LF reads
/// as LF, a read stops after an LF or at `limit` - 1 characters, and (read
/// Exact) a 0x1A ends the content until a seek moves past it. Lines passed
/// over by readMarkedLine are read one by one, as the interface describes.
class PlainLineReader : public LineSource {
 public:
  explicit PlainLineReader(std::string bytes, TextReading reading = TextReading::Exact)
      : bytes_(std::move(bytes)), stopsAtSubstitute_(reading == TextReading::Exact) {}

  std::size_t readLine(char* buffer, std::size_t limit) override;
  bool tell(std::uint32_t* position) override;
  bool seek(std::uint32_t position) override;

 private:
  bool readable(std::size_t at) const {
    return at < bytes_.size() && !(stopsAtSubstitute_ && bytes_[at] == '\x1a');
  }

  std::string bytes_;
  bool stopsAtSubstitute_;
  std::size_t next_ = 0;
};

}  // namespace zentry::test
