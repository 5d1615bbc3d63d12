#include "filter/rule_file.h"

#include <cstddef>
#include <cstring>
#include <memory>

namespace zentry {
namespace {

// One read takes at most 999 bytes and the terminator: a longer line arrives
// in pieces, and each piece counts as a line of its own.
constexpr std::size_t lineBufferSize = 1000;

}  // namespace

void loadRules(Workspace& workspace, RuleList& rules) {
  rules.clear();
  const std::unique_ptr<LineSource> file = workspace.openText("zentry.dat", TextReading::Exact);
  if (file == nullptr) return;

  char buffer[lineBufferSize];
  Rule working;
  int fieldIndex = 0;
  // A read error delivers nothing, so it ends the file like its end does.
  while (file->readLine(buffer, lineBufferSize) != 0) {
    // A NUL byte ends the field, so the LF test looks at the text before it.
    const std::size_t length = std::strlen(buffer);
    if (length != 0 && buffer[length - 1] == '\n') buffer[length - 1] = '\0';
    switch (fieldIndex) {
      case 0:
        working.label.assign(buffer);
        fieldIndex = 1;
        break;
      case 1:
        working.subjectMask.assign(buffer);
        fieldIndex = 2;
        break;
      default:
        working.fileMask.assign(buffer);
        rules.pushBack(working);
        fieldIndex = 0;
        break;
    }
  }
  // A rule cut short by the end of the file is dropped with `working`.
}

}  // namespace zentry
