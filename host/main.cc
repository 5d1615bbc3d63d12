#include <cstdio>
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
      std::fputs(usageText, stdout);
      return exitClean;
    case Options::Mode::version:
      std::puts("zentry-host " ZENTRY_VERSION);
      return exitClean;
    case Options::Mode::replay:
      return runReplay(options);
    case Options::Mode::explain:
      return runExplain(options);
    case Options::Mode::run:
      break;
  }
  return runSingle(options);
}
