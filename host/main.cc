#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "host/exit_codes.h"
#include "host/explain.h"
#include "host/host_inputs.h"
#include "host/options.h"
#include "host/replay.h"
#include "host/single_run.h"

#ifndef ZENTRY_VERSION
#define ZENTRY_VERSION "unknown"
#endif

namespace {

// Help and version are output like any other: a full disk or a closed pipe
// must not pass for success.
int printText(const char* text) {
  using namespace zentry::host;
  if (std::fputs(text, stdout) == EOF || std::fflush(stdout) != 0) {
    complain(std::string("cannot write standard output: ") + std::strerror(errno));
    return exitIoError;
  }
  return exitClean;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace zentry::host;
  Options options;
  std::string error;
  if (!parseOptions(std::vector<std::string>(argv + 1, argv + argc), &options, &error)) {
    complain(error);
    std::fputs(usageText, stderr);
    return exitUsage;
  }
  switch (options.mode) {
    case Options::Mode::help:
      return printText(usageText);
    case Options::Mode::version:
      return printText("zentry-host " ZENTRY_VERSION "\n");
    case Options::Mode::replay:
      return runReplay(options);
    case Options::Mode::explain:
      return runExplain(options);
    case Options::Mode::run:
      break;
  }
  return runSingle(options);
}
