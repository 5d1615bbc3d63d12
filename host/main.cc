#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

#include "host/exit_codes.h"
#include "host/explain.h"
#include "host/filter_process.h"
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
  if (options.mode == Options::Mode::help) return printText(usageText);
  if (options.mode == Options::Mode::version) return printText("zentry-host " ZENTRY_VERSION "\n");
  // The filter, a process of the same user, reads the files written for it
  // and writes its log for us to read: a umask that takes the owner's own
  // access away would have it find no message (and pass it as clean), so
  // only the bits for others are kept.
  umask(umask(0) & 077);
  int exitCode = exitTempFail;
  try {
    exitCode = options.mode == Options::Mode::replay    ? runReplay(options)
               : options.mode == Options::Mode::explain ? runExplain(options)
                                                        : runSingle(options);
  } catch (const std::exception& failure) {
    // Out of memory, no thread to be had: a shortage that may pass. The
    // working directories went as the exception left their scopes.
    std::fprintf(stderr, "zentry-host: out of resources: %s\n", failure.what());
  }
  // Whatever way a run ended, a signal that came meanwhile ends us by that
  // signal, as the caller that sent it expects.
  reraiseIfInterrupted();
  return exitCode;
}
