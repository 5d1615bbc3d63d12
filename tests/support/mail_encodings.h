#pragma once

#include <string>

namespace zentry::test {

/// Bytes in base64, in lines of 76 characters, each ending in LF.
std::string base64Lines(const std::string& bytes);

/// Bytes uuencoded: lines of 45 bytes, a grave accent for each zero sextet,
/// then the end lines (the "begin" line is the caller's).
std::string uuencodeLines(const std::string& bytes);

/// A Macintosh file named `name` with `data` as its data fork, in BinHex
/// 4.0: the announcement line, then the stream between ':' in lines of 64
/// characters. Runs of three or more equal bytes are compressed and 0x90
/// escaped, as BinHex writers do.
std::string binHexLines(const std::string& name, const std::string& data);

}  // namespace zentry::test
