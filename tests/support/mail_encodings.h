#pragma once

#include <string>

namespace zentry::test {

/// Bytes in base64, in lines of 76 characters, each ending in LF.
std::string base64Lines(const std::string& bytes);

/// Bytes uuencoded: lines of 45 bytes, a grave accent for each zero sextet,
/// then the end lines (the "begin" line is the caller's).
std::string uuencodeLines(const std::string& bytes);

}  // namespace zentry::test
