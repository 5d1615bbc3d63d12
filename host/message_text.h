#pragma once

#include <cstddef>
#include <optional>
#include <string>

namespace zentry::host {

/// How much of the Subject field the filter is given. The filter prints at
/// most 100 bytes of it and traces 200, but its subject masks see the whole
/// variable; the kernel refuses an environment string from 128 KiB on, so a
/// longer field is cut here rather than keep the filter from starting.
constexpr std::size_t subjectLimit = 64 * 1024;

/// The message without a leading mbox envelope line ("From sender date"),
/// which delivery agents such as procmail pass on but a server never stores.
std::string stripEnvelopeLine(const std::string& message);

struct SubjectField {
  std::optional<std::string> value;  ///< none when the header has no Subject field
  bool cutAtNul = false;             ///< the value held a NUL byte and was cut there
  bool cutAtLimit = false;           ///< the value was longer than subjectLimit and was cut there
};

/// Finds the first Subject field of a header block fed in pieces of any size,
/// keeping no more than subjectLimit bytes of it. The value is the field as
/// the server passes it to the filter: unfolded (each line break before a
/// blank removed, the blank kept), leading blanks after the colon removed,
/// everything else (trailing blanks, encoded words, 8-bit bytes) unchanged.
/// Line ends may be CR LF or LF; an empty line ends the header block.
class SubjectReader {
 public:
  /// Takes the next bytes of the message.
  void feed(const char* bytes, std::size_t size);
  /// Ends the message (a last line without LF still counts) and returns the field.
  const SubjectField& finish();
  /// True once nothing more can change the result.
  bool done() const { return state_ == State::done; }

 private:
  enum class State { lineStart, name, blanksAfterName, skipLine, value, afterValueLine, done };
  void take(char c);
  void keep(char c);

  State state_ = State::lineStart;
  std::size_t matched_ = 0;  // bytes of "subject" matched so far on this line
  bool pendingCr_ = false;   // a CR inside the value, dropped if an LF follows
  bool lineEmpty_ = false;   // the current line is a lone CR so far
  SubjectField field_;
};

/// The first Subject field of a whole message, as SubjectReader finds it.
SubjectField extractSubject(const std::string& message);

/// True when the bytes begin like a message: a header field "Name: ..." or an
/// mbox envelope line. Used to tell mail from other files in a maildir.
bool looksLikeMessage(const std::string& bytes);

}  // namespace zentry::host
