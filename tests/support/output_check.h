#pragma once

#include <string>
#include <vector>

namespace zentry::test {

/// True when every LF has a CR before it, every CR an LF after it, and the
/// text ends at a line end (or is empty): what the host reads line by line.
bool hasCompleteLines(const std::string& text);

/// The lines of the text, each with its line end; bytes after the last LF
/// are left out.
std::vector<std::string> splitLines(const std::string& text);

}  // namespace zentry::test
