#pragma once

#include <cstdint>
#include <memory>

#include "platform/line_source.h"

namespace zentry {

/// A file read as text through one fixed block buffer: the message is never
/// held whole, so memory stays flat whatever its size. Reads go through
/// pread() in large blocks and lines are cut with memchr(), so the cost per
/// byte stays close to that of copying the file.
class FileLineSource : public LineSource {
 public:
  /// Null when the file can't be opened or is a directory.
  static std::unique_ptr<FileLineSource> open(const char* path, TextReading reading = TextReading::Exact);
  ~FileLineSource() override;
  FileLineSource(const FileLineSource&) = delete;
  FileLineSource& operator=(const FileLineSource&) = delete;

  /// `limit` may be at most blockCapacity; the scanner's is 10000.
  std::size_t readLine(char* buffer, std::size_t limit) override;
  std::size_t readLineTo(char* buffer, std::size_t limit, std::uint32_t* position) override;
  /// Passes over unmarked lines inside the block: no copy, no position query.
  std::size_t readMarkedLine(char* buffer, std::size_t limit, const char* marks,
                             std::uint32_t endOffset) override;
  bool tell(std::uint32_t* position) override;
  /// Seeking back inside the block costs no read; anywhere else drops the
  /// block. A position past the end of the file is allowed and reads nothing.
  bool seek(std::uint32_t position) override;

 private:
  FileLineSource(int descriptor, TextReading reading);
  /// Where the content stops in block_[from, to): the first 0x1A, or `to`
  /// when the file is read whole.
  std::size_t stopIn(std::size_t from, std::size_t to) const;
  /// Moves the unread bytes to the front and reads behind them until at
  /// least `wanted` are buffered, the file ends or a read fails.
  void fill(std::size_t wanted);
  /// Cuts the next line of at most `most` characters as readLine delivers
  /// it, without taking it: returns its characters (0 at the end) and sets
  /// *used to the bytes it spans from block_[next_].
  std::size_t nextLine(std::size_t most, std::size_t* used);
  /// Where the next read that may begin with `mark` starts in
  /// block_[next_, end) (end at most stop_), for reads of at most `most`
  /// characters: the first line after the one at next_ that begins with
  /// `mark`, or the start of a line longer than `most` that holds one (its
  /// pieces are then to be read one by one up to *plainTo); when there is
  /// none, the start of the last line that begins there (next_ when none
  /// does). *plainTo is `end` unless a long line was found.
  std::size_t markedLineAhead(char mark, std::size_t end, std::size_t most, std::size_t* plainTo) const;
  /// Delivers the line nextLine cut into buffer and takes it.
  void takeLine(char* buffer, std::size_t delivered, std::size_t used);

  static constexpr std::size_t blockCapacity = 256 * 1024;
  int descriptor_;
  bool endsAtSubstitute_;  // read Exact: 0x1A ends the content
  std::unique_ptr<char[]> block_;
  std::uint64_t blockOffset_ = 0;  // file offset of block_[0]
  std::size_t filled_ = 0;         // bytes valid in block_
  std::size_t next_ = 0;           // next unread byte
  // block_[searchedFrom_, stop_) holds no 0x1A; stop_ is either filled_ or
  // the index of a 0x1A. Always searchedFrom_ <= next_ <= stop_ <= filled_,
  // so each byte is searched for 0x1A once per pass, not once per line.
  std::size_t searchedFrom_ = 0;
  std::size_t stop_ = 0;
  bool fileEnded_ = false;  // nothing can be read behind filled_
};

}  // namespace zentry
