#include "host/single_run.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "host/exit_codes.h"
#include "host/filter_trace.h"
#include "host/host_inputs.h"
#include "host/message_run.h"
#include "host/message_text.h"

namespace zentry::host {
namespace {

bool writeStandardOutput(const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t wrote = write(STDOUT_FILENO, bytes.data() + done, bytes.size() - done);
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) return false;
    done += static_cast<std::size_t>(wrote);
  }
  return true;
}

// What the host makes of the filter's ending, once its output is relayed.
int exitCodeFor(const FilterResult& result) {
  switch (result.status) {
    case FilterResult::Status::exited:
      return result.exitCode;
    case FilterResult::Status::killed:
      complain("the filter was killed by signal " + std::to_string(result.signal));
      return exitSoftware;
    case FilterResult::Status::notStarted:
      break;
  }
  complain(result.error);
  return result.unusable ? exitConfig : exitTempFail;
}

}  // namespace

int runSingle(const Options& options) {
  int exitCode = exitClean;
  std::string message;
  HostInputs inputs;
  if (!loadMessageRun(options, &message, &inputs, &exitCode)) return exitCode;
  const SubjectField subject = extractSubject(message);
  if (subject.cutAtNul) complain("the Subject field holds a NUL byte; the filter sees the text before it");

  std::vector<std::string> arguments{options.mailbox};
  if (options.errorlevel) arguments.push_back("errorlevel");
  if (options.debug) arguments.push_back("debug");
  if (options.strict) arguments.push_back("strict");

  installSignalHandlers();
  FilterResult result;
  std::string log;
  {
    const std::unique_ptr<WorkDir> dir = makeRulesDirectory(inputs.rules);
    if (dir == nullptr) return exitTempFail;
    result = runMessage(*dir, inputs.filterPath, message, subject.value, arguments, 0);
    log = dir->readFile("zentry.log");
  }
  reraiseIfInterrupted();
  if (!writeStandardOutput(result.output)) {
    complain(std::string("cannot write standard output: ") + std::strerror(errno));
    return exitIoError;
  }
  std::string error;
  // The filter writes its log blind: in a full $TMPDIR it goes on with a cut
  // log and says nothing, so the log is checked against the trace it printed.
  if (!options.logFile.empty() && result.status == FilterResult::Status::exited &&
      log != expectedLog(result.output)) {
    complain("the filter could not write its whole log (is " + tmpDirectory() + " full?); " +
             options.logFile + " is left as it was");
    return exitIoError;
  }
  if (!options.logFile.empty() && !appendToFile(options.logFile, log, &error)) {
    complain("log " + error);
    return exitIoError;
  }
  return exitCodeFor(result);
}

}  // namespace zentry::host
