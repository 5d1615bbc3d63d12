#include "scanner/message_file.h"

#include <memory>

#include "scanner/mime_walker.h"
#include "scanner/strict_scan.h"

namespace zentry {
void scanMessageFile(Workspace& workspace, const String& messageFileName, Console& console,
                     AttachmentNames& names, bool strictMode) {
  const std::unique_ptr<LineSource> file =
      workspace.openText(messageFileName.cStr(), strictMode ? TextReading::Whole : TextReading::Exact);
  if (!file) {
    console.print("File \"%.300s\" can't be opened\n", messageFileName.cStr());
    return;
  }
  // The context holds the line buffer: on the heap, not on the stack.
  const auto context = std::make_unique<ScanContext>(*file, console, names);
  std::unique_ptr<StrictScan> strict;
  if (strictMode) {
    strict = std::make_unique<StrictScan>();
    context->strict = strict.get();
  }
  scanMessage(*context, messageStartOffset, wholeFileEndOffset);
}

void scanMessage(ScanContext& context, std::uint32_t startOffset, std::uint32_t endOffset) {
  const ActiveCount frame(context.activeMessageFrames);
  BoundaryStack boundaries;
  std::int32_t partCounter = 0;
  context.console.trace("ProcessFile2 %lu - %lu\n", static_cast<unsigned long>(startOffset),
                        static_cast<unsigned long>(endOffset));
  context.file.seek(startOffset);
  scanPart(context, boundaries, partCounter, endOffset);
}

}  // namespace zentry
