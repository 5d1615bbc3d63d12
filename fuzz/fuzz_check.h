#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>

namespace zentry::fuzz {

/// A broken promise is a crash, so libFuzzer keeps the input and the replay
/// run fails; the message says which promise.
inline void require(bool holds, const char* promise, const std::string& detail = std::string()) {
  if (holds) return;
  std::fprintf(stderr, "fuzz check failed: %s\n%s\n", promise, detail.c_str());
  std::abort();
}

/// As above, with the detail built only when the promise is broken: some
/// details are as long as the input.
template <typename Detail>
void require(bool holds, const char* promise, const Detail& detail) {
  if (!holds) require(false, promise, std::string(detail()));
}

/// Bytes shown with their control characters escaped, for failure messages.
inline std::string visible(const std::string& bytes) {
  std::string out;
  for (const char raw : bytes) {
    const auto byte = static_cast<unsigned char>(raw);
    if (byte >= 0x20 && byte < 0x7f && byte != '\\') {
      out.push_back(static_cast<char>(byte));
    } else {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02x", byte);
      out += escaped;
    }
  }
  return out;
}

}  // namespace zentry::fuzz
