#include <cstdio>
#include <string>
#include <vector>

#include "filter/driver.h"
#include "platform/archive_lister_process.h"
#include "platform/standard_output.h"

namespace {

// Constructed before main and destroyed after it, in member order and reverse.
zentry::RunState globals;

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> arguments(argv, argv + argc);
  // Strict mode lists archives with zentry-archive, found beside this program
  // at the first archive (exact mode never looks for it).
  zentry::ProcessArchiveLister archiveLister;
  zentry::useArchiveLister(&archiveLister);
  zentry::StandardOutputSink standardOutput;
  const auto workspace = zentry::makeDirectoryWorkspace("");
  const int exitCode =
      zentry::runZentry(arguments, zentry::currentEnvironment(), *workspace, standardOutput, globals);
  standardOutput.flush();
  if (!globals.temporaryFailure.empty())
    std::fprintf(stderr, "zentry: %s\n", globals.temporaryFailure.c_str());
  return exitCode;
}
