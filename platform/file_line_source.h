#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "platform/line_source.h"

namespace zentry {

/// A file read as text through one fixed block buffer: the message is never
/// held whole, so memory stays flat whatever its size.
class FileLineSource : public LineSource {
 public:
  /// Null when the file can't be opened.
  static std::unique_ptr<FileLineSource> open(const char* path);
  ~FileLineSource() override;
  FileLineSource(const FileLineSource&) = delete;
  FileLineSource& operator=(const FileLineSource&) = delete;

  std::size_t readLine(char* buffer, std::size_t limit) override;
  bool tell(std::uint32_t* position) override;
  bool seek(std::uint32_t position) override;

 private:
  explicit FileLineSource(int descriptor);
  /// Keeps the unread bytes, reads more behind them; false when none came.
  bool refill();

  static constexpr std::size_t blockSize = 256 * 1024;
  int descriptor_;
  std::vector<char> block_;
  std::uint64_t blockOffset_ = 0;  // file offset of block_[0]
  std::size_t filled_ = 0;         // bytes valid in block_
  std::size_t next_ = 0;           // next unread byte in block_
  bool atEnd_ = false;             // end of file, a read error or a 0x1A byte was met
};

}  // namespace zentry
