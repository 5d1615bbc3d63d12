#include "host/single_run.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "host/exit_codes.h"
#include "host/filter_trace.h"
#include "host/host_inputs.h"
#include "host/input_file.h"
#include "host/message_run.h"
#include "host/routing_writer.h"

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

// Streams the message into dir's routing.dat; 0 when stored, else the exit code.
int storeMessage(int input, const std::string& inputPath, const WorkDir& dir, SubjectField* subject) {
  RoutingWriter writer;
  std::string error;
  if (!writer.open(dir.path() + "/routing.dat", &error)) {
    complain(error);
    return exitTempFail;
  }
  switch (copyMessage(input, writer, &error)) {
    case CopyStatus::ok:
      break;
    case CopyStatus::empty:
      complain("message " + (inputPath == "-" ? std::string("on standard input") : inputPath) + " is empty");
      return exitDataError;
    case CopyStatus::readFailed:
      // A signal cut the reading short: the caller ends by that signal.
      if (!interrupted()) complain("message: cannot read " + inputName(inputPath) + ": " + error);
      return exitNoInput;
    case CopyStatus::writeFailed:
      complain(error);
      return exitTempFail;
  }
  if (!writer.close(&error)) {
    complain(error);
    return exitTempFail;
  }
  *subject = writer.subject();
  return 0;
}

}  // namespace

int runSingle(const Options& options) {
  int exitCode = exitClean;
  int input = -1;
  std::string error;
  if (openInputFile(options.input, &input, &error) != ReadStatus::ok) {
    complain("message " + error);
    return exitNoInput;
  }
  struct Closer {
    int fd;
    ~Closer() {
      if (fd != STDIN_FILENO) close(fd);
    }
  } closer{input};
  HostInputs inputs;
  if (!loadHostInputs(options, &inputs, &exitCode)) return exitCode;

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
    SubjectField subject;
    exitCode = storeMessage(input, options.input, *dir, &subject);
    if (exitCode == 0) {
      reportSubjectCuts(subject, "");
      result = runStoredMessage(*dir, inputs.filterPath, subject.value, arguments, 0);
      log = dir->readFile("zentry.log");
    }
  }
  reraiseIfInterrupted();
  if (exitCode != 0) return exitCode;
  if (!writeStandardOutput(result.output)) {
    complain(std::string("cannot write standard output: ") + std::strerror(errno));
    return exitIoError;
  }
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
