#pragma once

#include <memory>
#include <string>

#include "host/options.h"
#include "host/work_dir.h"

namespace zentry::host {

/// What every mode needs before the first filter run: the rules file's bytes
/// and, when it runs the filter program, a runnable one. On failure *exitCode and a message on standard
/// error are set and false is returned.
struct HostInputs {
  std::string rules;
  std::string filterPath;
};

[[nodiscard]] bool loadHostInputs(const Options& options, HostInputs* inputs, int* exitCode);

/// Reads one message for the run and explain modes ("-" is standard input)
/// and removes an mbox envelope line. Same failure reporting.
[[nodiscard]] bool loadMessage(const std::string& path, std::string* message, int* exitCode);

/// Both of the above, for the modes that run one message.
[[nodiscard]] bool loadMessageRun(const Options& options, std::string* message, HostInputs* inputs,
                                  int* exitCode);

/// A fresh working directory holding the rules as "zentry.dat"; null, after
/// saying why on standard error, when it can't be made.
std::unique_ptr<WorkDir> makeRulesDirectory(const std::string& rules);

/// "zentry-host: <text>" on standard error.
void complain(const std::string& text);

}  // namespace zentry::host
