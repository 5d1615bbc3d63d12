#pragma once

#include <string>

namespace zentry::host {

enum class ReadStatus { ok, missing, unreadable };

/// Reads a whole file ("-" is standard input) into *bytes. On failure
/// *error holds a sentence naming the file and the reason.
[[nodiscard]] ReadStatus readInputFile(const std::string& path, std::string* bytes, std::string* error);

}  // namespace zentry::host
