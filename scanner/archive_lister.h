#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "scanner/attachment_examination.h"

namespace zentry {

// Archives are listed outside the filter, by the zentry-archive program: the
// listing library is a large C parser facing hostile bytes, and linking it
// would slow the start of every run, also those that never meet an archive.
//
// One lister serves a whole message: started as
//   zentry-archive --requests
// it reads requests on standard input, each a line
//   list NAME TRUNCATED MEMBERS-LEFT BYTES-LEFT SIZE
// followed by the SIZE bytes of the decoded attachment, or a line
//   map NAME TRUNCATED MEMBERS-LEFT BYTES-LEFT SIZE
// that carries (SCM_RIGHTS) a memory file holding the attachment in its
// first SIZE bytes, which the lister maps instead of reading a copy off the
// socket; with NAME escaped (below), TRUNCATED "0" or "1" and the message's
// budget in decimal, and
// answers each on standard output, one line each,
//   found NAME ROUTE     a name found, with its route, both escaped
//   left MEMBERS BYTES   the budget left; the last line of a whole answer
// until its input ends. An answer without its "left" line, or with any line
// not of these forms, is a failed listing.

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

/// How a listing ended.
enum class ListingResult {
  Listed,       ///< a whole answer
  Failed,       ///< anything else the lister did: a property of the archive
  CannotStart,  ///< the lister could not be started: a fault of the installation
};

/// The lister of one message: every archive of the message goes to the same
/// one, and whatever it costs (its start, its CPU time, the time waited for
/// it) counts against the message.
class ListingSession {
 public:
  virtual ~ListingSession() = default;
  /// Lists the attachment `name` (decoded bytes [data, data + size)) within
  /// `budget`, handing what it finds to `sink` and lowering `budget`. The
  /// names found before a failure have reached the sink. Once a listing has
  /// not ended Listed, every later one ends the same way without a try.
  virtual ListingResult list(const std::string& name, const unsigned char* data, std::size_t size,
                             bool truncated, ExaminationBudget& budget, ExaminationSink& sink) = 0;
  /// Why the lister could not be started; set once list() said CannotStart.
  virtual std::string fault() const = 0;
};

/// Makes the listing sessions; implemented where processes can be started,
/// the scanner only sees this interface. Threads may share one.
class ArchiveLister {
 public:
  virtual ~ArchiveLister() = default;
  /// A session for one message. Nothing is started until its first archive.
  virtual std::unique_ptr<ListingSession> startSession() = 0;
};

/// The lister strict mode uses for archives, set once by the program before
/// any message is read; none (the default) marks every archive incomplete.
void useArchiveLister(ArchiveLister* lister);
ArchiveLister* archiveLister();

}  // namespace zentry
