#pragma once

#include <cstddef>
#include <string>

namespace zentry {

// yEnc sends a file inside a text body between "=ybegin ..." and "=yend ..."
// lines; mail clients show such a block as an attachment named by its
// header line.

/// The file name a yEnc header line gives, from the `size` bytes of `line`
/// (the line as read, its LF or CR LF included or not): the line opens with
/// "=ybegin" and a blank, then holds keywords of the form `key=value`,
/// among them `line=` and `size=` with digits, and last `name=`, whose value
/// is the rest of the line (blanks inside kept, blanks and CR at its end
/// dropped). Empty when the line is not such a header or names nothing, so
/// prose that mentions "=ybegin" adds nothing.
std::string yencFileName(const char* line, std::size_t size);

}  // namespace zentry
