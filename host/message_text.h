#pragma once

#include <optional>
#include <string>

namespace zentry::host {

/// The message without a leading mbox envelope line ("From sender date"),
/// which delivery agents such as procmail pass on but a server never stores.
std::string stripEnvelopeLine(const std::string& message);

struct SubjectField {
  std::optional<std::string> value;  ///< none when the header has no Subject field
  bool cutAtNul = false;             ///< the value held a NUL byte and was cut there
};

/// The first Subject field of the header block as the server passes it to the
/// filter: unfolded (each line break before a blank removed, the blank kept),
/// leading blanks after the colon removed, everything else (trailing blanks,
/// encoded words, 8-bit bytes) unchanged. Line ends may be CR LF or LF.
SubjectField extractSubject(const std::string& message);

/// True when the bytes begin like a message: a header field "Name: ..." or an
/// mbox envelope line. Used to tell mail from other files in a maildir.
bool looksLikeMessage(const std::string& bytes);

}  // namespace zentry::host
