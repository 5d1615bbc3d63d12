#include "host/host_inputs.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "host/exit_codes.h"
#include "host/filter_process.h"
#include "host/input_file.h"
#include "host/message_text.h"
#include "host/terminal_text.h"

namespace zentry::host {

// Complaints quote file names and mail, which must not reach a terminal raw.
void complain(const std::string& text) {
  std::fprintf(stderr, "zentry-host: %s\n", terminalText(text).c_str());
}

bool loadHostInputs(const Options& options, HostInputs* inputs, int* exitCode) {
  std::string error;
  if (readInputFile(options.rules, &inputs->rules, &error) != ReadStatus::ok) {
    complain("rules file " + error);
    *exitCode = exitConfig;
    return false;
  }
  if (!runsFilterProgram(options)) return true;
  inputs->filterPath = findFilterProgram(options.filterPath, &error);
  if (inputs->filterPath.empty()) {
    complain("filter " + error + " (use --zentry PATH)");
    *exitCode = exitConfig;
    return false;
  }
  return true;
}

bool loadMessage(const std::string& path, std::string* message, int* exitCode) {
  std::string error;
  if (readInputFile(path, message, &error) != ReadStatus::ok) {
    complain("message " + error);
    *exitCode = exitNoInput;
    return false;
  }
  *message = stripEnvelopeLine(*message);
  if (message->empty()) {
    complain("message " + (path == "-" ? std::string("on standard input") : path) + " is empty");
    *exitCode = exitDataError;
    return false;
  }
  return true;
}

bool loadMessageRun(const Options& options, std::string* message, HostInputs* inputs, int* exitCode) {
  return loadMessage(options.input, message, exitCode) && loadHostInputs(options, inputs, exitCode);
}

std::unique_ptr<WorkDir> makeRulesDirectory(const std::string& rules) {
  std::string error;
  std::unique_ptr<WorkDir> dir = WorkDir::create(&error);
  if (dir == nullptr || !dir->writeFile("zentry.dat", rules, &error)) {
    complain(error);
    return nullptr;
  }
  return dir;
}

}  // namespace zentry::host
