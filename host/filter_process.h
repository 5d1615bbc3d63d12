#pragma once

#include <optional>
#include <string>
#include <vector>

namespace zentry::host {

struct FilterRequest {
  std::string program;                 ///< path of the zentry binary
  std::string directory;               ///< working directory holding routing.dat and zentry.dat
  std::vector<std::string> arguments;  ///< after argument 0: mailbox, then switches
  std::optional<std::string> subject;  ///< none: the variable is not set at all
};

struct FilterResult {
  enum class Status { exited, killed, notStarted };
  Status status = Status::notStarted;
  int exitCode = -1;   ///< when exited
  int signal = 0;      ///< when killed
  std::string output;  ///< standard output, byte for byte
  std::string error;   ///< when not started: why
  /// When not started: the program itself cannot be run (missing, not a
  /// program, no permission), which waiting will not mend.
  bool unusable = false;
};

/// The environment the filter gets: ours without any variable whose name is
/// "subject" in some letter case (the filter looks its variable up without
/// regard to case, so a stray SUBJECT would stand in for a missing Subject
/// field), plus subject=<value> when there is a value.
std::vector<std::string> filterEnvironment(const std::vector<std::string>& inherited,
                                           const std::optional<std::string>& subject);

/// Runs the filter in request.directory with standard input from /dev/null and
/// collects its standard output. `slot` (0 to maxSlots - 1) names the running
/// child for the signal handlers; each concurrent caller needs its own.
FilterResult runFilter(const FilterRequest& request, int slot);

constexpr int maxSlots = 256;

/// Installs handlers for every signal that would end the process (SIGINT,
/// SIGTERM, SIGHUP, SIGQUIT, SIGUSR1, SIGALRM ...; not those already ignored)
/// that pass the signal on to the running filters and remember it, so callers
/// can clean up and then call reraiseIfInterrupted. A write that SIGPIPE or
/// SIGXFSZ would stop fails instead, as an error we report.
void installSignalHandlers();
/// True once one of those signals has arrived.
bool interrupted();
/// For when nothing is left to clean up: gives those signals their default
/// action again, and dies by the remembered signal, if any.
void reraiseIfInterrupted();

/// The zentry binary next to this program.
std::string defaultFilterPath();

/// The filter program to run: `given` (empty: defaultFilterPath()) made
/// absolute, since a relative path means the caller's directory and the filter
/// starts in its working directory. Empty, with the reason in *error, unless
/// it names an executable regular file.
std::string findFilterProgram(const std::string& given, std::string* error);

}  // namespace zentry::host
