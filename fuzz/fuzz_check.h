#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>

#include "support/output_check.h"

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

using test::visible;

}  // namespace zentry::fuzz
