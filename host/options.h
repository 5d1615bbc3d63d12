#pragma once

#include <string>
#include <vector>

#include "host/report.h"

namespace zentry::host {

struct Options {
  enum class Mode { run, replay, explain, help, version };
  Mode mode = Mode::run;
  std::string input;                 ///< message file, "-", mbox file or maildir
  std::string rules;                 ///< rules file, copied in as zentry.dat
  std::string mailbox = "infected";  ///< intercept mailbox, the filter's first argument
  bool errorlevel = false;
  bool debug = false;
  bool strict = false;     ///< pass "strict" (in every mode)
  std::string logFile;     ///< where to append the run's zentry.log
  std::string filterPath;  ///< empty: the zentry next to this program
  /// Replay and explain run one filter process per message (as the server
  /// does) instead of scanning in this process; implied by --zentry.
  bool isolate = false;
  unsigned jobs = 0;  ///< 0: one per core
  ReportFormat format = ReportFormat::text;
  bool progress = true;  ///< still only on a terminal
};

/// Parses the arguments after the program name. False with a one-line reason
/// in *error for anything it does not understand.
[[nodiscard]] bool parseOptions(const std::vector<std::string>& arguments, Options* options,
                                std::string* error);

/// True when the mode runs the filter program rather than scanning in this
/// process: a single run always does, replay and explain when isolated.
bool runsFilterProgram(const Options& options);

extern const char* const usageText;

}  // namespace zentry::host
