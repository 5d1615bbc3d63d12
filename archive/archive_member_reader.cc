#include "archive/archive_member_reader.h"

#include <archive.h>

#include <algorithm>

namespace zentry {

bool MemberReader::charge(std::uint64_t bytes) {
  if (bytes > budget_.decompressedBytesLeft) {
    budget_.decompressedBytesLeft = 0;
    end_ = ReadEnd::BudgetSpent;
    return false;
  }
  budget_.decompressedBytesLeft -= bytes;
  return true;
}

bool MemberReader::fetch() {
  if (end_ != ReadEnd::Reached) return false;
  if (budget_.decompressedBytesLeft == 0) {
    end_ = ReadEnd::BudgetSpent;
    return false;
  }
  const void* block = nullptr;
  std::size_t size = 0;
  la_int64_t offset = 0;
  const int status = archive_read_data_block(reader_, &block, &size, &offset);
  if (status == ARCHIVE_EOF) {
    end_ = ReadEnd::MemberEnded;
    return false;
  }
  // Blocks come in order; one that starts before what was handed out is damage.
  const std::uint64_t expected = position_ + (blockSize_ - taken_);
  if ((status != ARCHIVE_OK && status != ARCHIVE_WARN) || offset < 0 ||
      static_cast<std::uint64_t>(offset) < expected) {
    end_ = ReadEnd::Failed;
    return false;
  }
  if (decompresses_ && !charge(size)) return false;
  block_ = static_cast<const unsigned char*>(block);
  blockSize_ = size;
  taken_ = 0;
  holeBefore_ = static_cast<std::uint64_t>(offset) - expected;
  return true;
}

ReadEnd MemberReader::readTo(std::vector<unsigned char>& into, std::size_t want) {
  while (into.size() < want) {
    if (holeBefore_ == 0 && taken_ == blockSize_ && !fetch()) return end_;
    const std::size_t room = want - into.size();
    // Zeros of a hole cost what they occupy, whatever the format.
    const std::size_t zeros = static_cast<std::size_t>(std::min<std::uint64_t>(holeBefore_, room));
    if (zeros > 0) {
      if (!charge(zeros)) return end_;
      into.insert(into.end(), zeros, 0);
      holeBefore_ -= zeros;
      position_ += zeros;
      continue;
    }
    const std::size_t count = std::min(room, blockSize_ - taken_);
    if (!decompresses_ && !charge(count)) return end_;
    into.insert(into.end(), block_ + taken_, block_ + taken_ + count);
    taken_ += count;
    position_ += count;
  }
  return ReadEnd::Reached;
}

ReadEnd MemberReader::drain() {
  for (;;) {
    position_ += holeBefore_ + (blockSize_ - taken_);
    holeBefore_ = 0;
    taken_ = blockSize_;
    if (!fetch()) return end_;
  }
}

}  // namespace zentry
