#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "scanner/attachment_examination.h"

namespace zentry {

// Archives are listed outside the filter, by the zentry-archive program: the
// listing library is a large C parser facing hostile bytes, and linking it
// would slow the start of every run, also those that never meet an archive.
//
// The lister is started as
//   zentry-archive NAME TRUNCATED MEMBERS-LEFT BYTES-LEFT
// with NAME escaped (below), TRUNCATED "0" or "1" and the message's budget in
// decimal; it reads the decoded attachment on standard input and answers, one
// line each,
//   found NAME ROUTE     a name found, with its route, both escaped
//   left MEMBERS BYTES   the budget left; the last line of a whole answer
// An answer without its "left" line, or with any line not of these forms, is
// a failed listing.

/// Escapes a name for one field of the lister's command line or answer: '%',
/// space and bytes below 0x21 or at 0x7F become "%XX" (upper-case hex), so a
/// field holds no space, newline or NUL and is never empty ("%" alone stands
/// for the empty string).
std::string escapeListerField(const std::string& text);

/// Reverses escapeListerField; false for a field it cannot have written.
[[nodiscard]] bool unescapeListerField(const std::string& field, std::string* text);

/// The answer's lines, as the lister writes them.
std::string listerFoundLine(const std::string& name, const std::string& route);
std::string listerLeftLine(const ExaminationBudget& budget);

/// Reads the lister's answer as it arrives, handing each found name to the
/// sink at once, so the names read before a failure still count.
class ListerReplyReader {
 public:
  explicit ListerReplyReader(ExaminationSink& sink) : sink_(sink) {}

  /// Takes the next bytes of the answer; false once it is known to be
  /// garbage (later bytes are then ignored).
  bool take(const char* bytes, std::size_t size);

  /// True when the answer ended with its "left" line and nothing after it.
  bool complete() const { return left_ && !garbage_ && pending_.empty(); }
  /// The budget the "left" line reported; meaningful when complete().
  const ExaminationBudget& left() const { return budget_; }

 private:
  bool takeLine(const std::string& line);

  ExaminationSink& sink_;
  std::string pending_;  // an incomplete last line
  ExaminationBudget budget_;
  bool left_ = false;
  bool garbage_ = false;
};

/// Runs the lister on one archive attachment. Implemented where processes
/// can be started; the scanner only sees this interface.
class ArchiveLister {
 public:
  virtual ~ArchiveLister() = default;
  /// Lists the attachment `name` (decoded bytes [data, data + size)) within
  /// `budget`, handing what it finds to `sink` and lowering `budget`. False
  /// when the listing failed for any reason (the lister missing, killed,
  /// out of time, or its answer garbled or too long); the names found until
  /// then have reached the sink.
  virtual bool list(const std::string& name, const unsigned char* data, std::size_t size, bool truncated,
                    ExaminationBudget& budget, ExaminationSink& sink) = 0;
};

/// The lister strict mode uses for archives, set once by the program before
/// any message is read; none (the default) marks every archive incomplete.
void useArchiveLister(ArchiveLister* lister);
ArchiveLister* archiveLister();

}  // namespace zentry
