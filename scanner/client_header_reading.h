#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace zentry {

/// The fields whose syntax decides a part's structure and decoding, as mail
/// clients read them: the name is compared without letter case and may be
/// followed by blanks or tabs before its colon ("Content-Type :").
enum class StructureField { other, contentType, transferEncoding, contentDisposition };

/// Which of the fields `text` (a gathered header field) is; *valueStart
/// receives the index just after its colon when it is one of them.
StructureField structureFieldOf(const char* text, std::size_t size, std::size_t* valueStart);

/// Whether the field's name is written as exact mode reads it: the name
/// straight followed by its colon.
bool writtenWithoutBlanksBeforeColon(const char* text, std::size_t size, StructureField field);

/// Every `boundary` parameter of a Content-Type value, in order, as clients
/// read it: only a double quote quotes, a backslash inside quotes takes the
/// next byte as it is, and any other byte (a single quote too) is part of a
/// value. An unquoted value runs to the next ';', blanks at its ends removed.
std::vector<std::string> clientBoundaries(const char* value, std::size_t size);

/// False when a Content-Type value has no "boundary" before any '=':
/// clientBoundaries would find none.
bool mayGiveBoundary(const char* value, std::size_t size);

/// A transfer-encoding value as clients read it: blanks at both ends removed
/// (exact mode keeps trailing ones, so "base64 " is not base64 to it).
std::string clientTransferEncoding(const char* value, std::size_t size);

/// Whether a transfer encoding announces a uuencoded body; clients decode
/// these three names alike.
bool namesUuencoding(const std::string& encoding);

/// How a line that follows "--" and an open boundary ends, as clients read
/// delimiter lines: nothing, or "--", then any blanks and tabs, then the line
/// end. A NUL is data, so a line holding one is no delimiter.
enum class DelimiterEnd { none, delimiter, closeDelimiter };
struct DelimiterMatch {
  DelimiterEnd end = DelimiterEnd::none;
  bool padded = false;  ///< blanks or tabs stood before the line end
};
/// `rest` is what follows the boundary: `size` bytes up to and including the
/// line's LF, if it has one.
DelimiterMatch delimiterEndOf(const char* rest, std::size_t size);

}  // namespace zentry
