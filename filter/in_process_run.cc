#include "filter/in_process_run.h"

namespace zentry {

InProcessRun runFilterInProcess(Workspace& workspace, const std::vector<std::string>& arguments,
                                const std::optional<std::string>& subject, RunState& state) {
  EnvironmentBlock environment;
  if (subject) environment.push_back("subject=" + *subject);
  std::vector<std::string> argv{"zentry"};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  StringSink output;
  InProcessRun run;
  run.exitCode = runZentry(argv, environment, workspace, output, state);
  run.output = std::move(output.bytes);
  return run;
}

}  // namespace zentry
