#include "scanner/message_file.h"

#include <memory>

#include "scanner/mime_walker.h"
#include "scanner/reading_watch.h"
#include "scanner/strict_scan.h"

namespace zentry {
void scanMessageFile(Workspace& workspace, const String& messageFileName, Console& console,
                     AttachmentNames& names, StrictOutcome* strict) {
  const bool opened =
      strict != nullptr
          ? scanInStrictMode(workspace, messageFileName, console, names, *strict)
          : scanReading(workspace, messageFileName, TextReading::Exact, console, names, nullptr);
  if (!opened) console.print("File \"%.300s\" can't be opened\n", messageFileName.cStr());
}

bool scanReading(Workspace& workspace, const String& messageFileName, TextReading reading, Console& console,
                 AttachmentNames& names, StrictScan* strict, ReadingSeen* seen) {
  const std::unique_ptr<LineSource> file = workspace.openText(messageFileName.cStr(), reading);
  if (!file) return false;
  WatchedLineSource watched(*file);
  // The context holds the line buffer: on the heap, not on the stack.
  const auto context = std::make_unique<ScanContext>(seen != nullptr ? watched : *file, console, names);
  context->strict = strict;
  scanMessage(*context, messageStartOffset, wholeFileEndOffset);
  if (seen == nullptr) return true;
  seen->nulInLine = watched.sawNul();
  // Where the text ended, the file must end too: nothing may be read there
  // when the file is read whole.
  seen->endsBeforeFile = true;
  if (watched.reachedEnd()) {
    const std::unique_ptr<LineSource> whole = workspace.openText(messageFileName.cStr(), TextReading::Whole);
    char probe[4];
    seen->endsBeforeFile =
        !whole || !whole->seek(watched.endPosition()) || whole->readLine(probe, sizeof probe) != 0;
  }
  return true;
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
