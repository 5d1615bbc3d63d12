#pragma once

#include <string>

#include "tools/host/options.h"

namespace zentry::host {

/// What every mode needs before the first filter run: the rules file's bytes
/// and a runnable filter. On failure *exitCode and a message on standard
/// error are set and false is returned.
struct HostInputs {
  std::string rules;
  std::string filterPath;
};

[[nodiscard]] bool loadHostInputs(const Options& options, HostInputs* inputs, int* exitCode);

/// Reads one message for the run and explain modes ("-" is standard input)
/// and removes an mbox envelope line. Same failure reporting.
[[nodiscard]] bool loadMessage(const std::string& path, std::string* message, int* exitCode);

/// "zentry-host: <text>" on standard error.
void complain(const std::string& text);

}  // namespace zentry::host
