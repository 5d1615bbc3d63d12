#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "scanner/attachment_examination.h"

struct archive;

namespace zentry {

/// How a read of a member's bytes ended.
enum class ReadEnd { Reached, MemberEnded, BudgetSpent, Failed };

/// Reads the current member of a libarchive reader block by block, charging
/// the message's decompression budget. libarchive decompresses a whole block
/// at a time (up to 256 KiB for a deflated zip member) even when only a few
/// bytes are wanted, so a block counts in full when it is fetched: the budget
/// bounds the work done, not only the bytes kept. Where no decompression
/// happens at all (tar, cpio and ISO 9660 with no compression on top, whose
/// blocks point into the archive itself), only the bytes taken count.
/// One reader per member; a block stays usable until the next fetch.
class MemberReader {
 public:
  MemberReader(archive* reader, bool decompresses, ExaminationBudget& budget)
      : reader_(reader), decompresses_(decompresses), budget_(budget) {}

  /// Appends the member's next bytes to `into` until it holds `want` bytes,
  /// the member ends, the budget is spent or the read fails. A sparse
  /// member's holes read as zeros. `want` never allocates up front.
  ReadEnd readTo(std::vector<unsigned char>& into, std::size_t want);

  /// Fetches and drops the rest of the member, within the budget.
  ReadEnd drain();

 private:
  /// Makes the next block current; false at the member's end or on failure,
  /// with `end_` saying which.
  bool fetch();
  bool charge(std::uint64_t bytes);

  archive* reader_;
  bool decompresses_;
  ExaminationBudget& budget_;
  const unsigned char* block_ = nullptr;
  std::size_t blockSize_ = 0;
  std::size_t taken_ = 0;         // bytes of the current block already handed out
  std::uint64_t holeBefore_ = 0;  // zeros still due before the current block
  std::uint64_t position_ = 0;    // member bytes handed out so far, holes included
  ReadEnd end_ = ReadEnd::Reached;
};

}  // namespace zentry
