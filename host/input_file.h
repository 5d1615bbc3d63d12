#pragma once

#include <cstddef>
#include <string>

namespace zentry::host {

enum class ReadStatus { ok, missing, unreadable };

/// Opens a file for reading ("-" is standard input, returned as is); a
/// directory is refused. On failure *error holds a sentence naming the file
/// and the reason.
[[nodiscard]] ReadStatus openInputFile(const std::string& path, int* fd, std::string* error);

/// Reads a whole file ("-" is standard input) into *bytes, for the inputs
/// that are small by nature (rules) or read whole on purpose (--explain).
[[nodiscard]] ReadStatus readInputFile(const std::string& path, std::string* bytes, std::string* error);

/// read(2) that a signal for zentry-host ends even while a pipe has nothing
/// to give (our handlers restart plain reads): -1 with errno EINTR once
/// interrupted() holds, else what read returns.
[[nodiscard]] long readUnlessInterrupted(int fd, char* buffer, std::size_t size);

/// The file's name for messages: the path, or "standard input" for "-".
std::string inputName(const std::string& path);

}  // namespace zentry::host
