#include "host/in_process_scan.h"

#include <exception>

#include "filter/in_process_run.h"
#include "platform/archive_lister_process.h"

namespace zentry::host {

FilterResult scanInProcess(ReplayWorkspace& files, const std::optional<std::string>& subject,
                           const std::vector<std::string>& arguments) {
  FilterResult result;
  try {
    RunState state;
    InProcessRun run = runFilterInProcess(files, arguments, subject, state);
    result.status = FilterResult::Status::exited;
    result.exitCode = run.exitCode;
    result.output = std::move(run.output);
  } catch (const std::exception& failure) {
    // What would have ended a filter process ends only this message's scan.
    result = FilterResult{};
    result.error = std::string("the scan failed: ") + failure.what();
  }
  return result;
}

void useArchiveListerProcess() {
  static ProcessArchiveLister lister;
  useArchiveLister(&lister);
}

}  // namespace zentry::host
