#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "host/message_text.h"

namespace zentry::host {

/// Stores one message as "routing.dat" while it arrives in pieces: the four
/// prefix bytes, then the message, through a fixed buffer, so that a message
/// of any size costs the same memory. The header is watched on the way for
/// the Subject field.
class RoutingWriter {
 public:
  RoutingWriter() = default;
  ~RoutingWriter();
  RoutingWriter(const RoutingWriter&) = delete;
  RoutingWriter& operator=(const RoutingWriter&) = delete;

  /// Creates or empties the file and writes the prefix; a writer can be
  /// opened again for the next message once closed.
  [[nodiscard]] bool open(const std::string& path, std::string* error);
  /// Like open, but the stored form stays in memory while it fits in
  /// `heldLimit` bytes; a larger message goes on into the file at `path`,
  /// which is made only then.
  void openHeld(const std::string& path, std::size_t heldLimit);
  [[nodiscard]] bool write(const char* bytes, std::size_t size, std::string* error);
  /// Drops the last `count` bytes of the message (at most what was written).
  [[nodiscard]] bool dropTail(std::uint64_t count, std::string* error);
  [[nodiscard]] bool close(std::string* error);

  std::uint64_t messageSize() const { return holding_ ? held_.size() - prefixSize : written_ + used_; }
  const SubjectField& subject() { return subject_.finish(); }
  /// True when the whole stored form is in heldBytes(), none of it in the file.
  bool held() const { return holding_; }
  std::string_view heldBytes() const { return held_; }

 private:
  [[nodiscard]] bool flush(std::string* error);
  [[nodiscard]] bool writeAll(const char* bytes, std::size_t size, std::string* error);
  [[nodiscard]] bool spill(std::string* error);
  bool fail(const char* what, std::string* error);

  static constexpr std::size_t capacity = 64 * 1024;
  static constexpr std::size_t prefixSize = 4;  // the bytes before the message
  int fd_ = -1;
  std::string path_;
  char buffer_[capacity] = {};
  std::size_t used_ = 0;
  std::uint64_t written_ = 0;  // message bytes already in the file
  SubjectReader subject_;
  bool holding_ = false;
  std::size_t heldLimit_ = 0;
  std::string held_;  // the stored form while holding_
};

enum class CopyStatus { ok, empty, readFailed, writeFailed };

/// Copies the message that `fd` delivers (to its end) into `writer`, leaving
/// out a leading mbox envelope line. `empty` when nothing is left after it.
/// On failure *error names the cause.
[[nodiscard]] CopyStatus copyMessage(int fd, RoutingWriter& writer, std::string* error);

}  // namespace zentry::host
