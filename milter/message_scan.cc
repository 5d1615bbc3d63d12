#include "milter/message_scan.h"

#include <vector>

#include "filter/in_process_run.h"
#include "milter/counting_archive_lister.h"
#include "platform/held_workspace.h"

namespace zentry::milter {
namespace {

// The text after `prefix` on the output line that starts with it, up to the
// CR LF that ends it; false when no line starts so.
bool lineAfter(const std::string& output, const char* prefix, std::string* value) {
  const std::string marker = std::string("\n") + prefix;
  const std::size_t at = output.find(marker);
  if (at == std::string::npos) return false;
  const std::size_t begin = at + marker.size();
  std::size_t end = output.find('\n', begin);
  if (end == std::string::npos) end = output.size();
  if (end > begin && output[end - 1] == '\r') --end;
  *value = output.substr(begin, end - begin);
  return true;
}

}  // namespace

ScanVerdict scanHeldMessage(std::string_view routingBytes, std::string_view rules,
                            const std::optional<std::string>& subject, const std::string& mailbox,
                            bool strict) {
  HeldWorkspace workspace;
  workspace.hold("routing.dat", routingBytes);
  workspace.hold("zentry.dat", rules);
  std::vector<std::string> arguments{mailbox};
  if (strict) arguments.push_back("strict");

  RunState state;
  const InProcessRun run = runFilterInProcess(workspace, arguments, subject, state);

  ScanVerdict verdict;
  if (run.exitCode == exitTemporaryFailure) {
    verdict.temporaryFailure = state.temporaryFailure;
    return verdict;
  }
  verdict.hit = lineAfter(run.output, "To: ", &verdict.interceptMailbox) &&
                lineAfter(run.output, "Subject: ", &verdict.subject);
  if (strict) verdict.incompleteArchives = incompleteArchiveCount(state.attachmentNames);
  if (!verdict.hit) return verdict;
  // The run leaves the rule that hit and the name it matched in `state`.
  verdict.ruleLabel = state.hit.rule != nullptr ? state.hit.rule->label.cStr() : "";
  if (state.hit.name != nullptr) verdict.name = state.hit.name->cStr();
  return verdict;
}

}  // namespace zentry::milter
