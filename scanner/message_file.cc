// Placeholder until the scanner lands.
#include "scanner/message_file.h"

namespace zentry {

void scanMessageFile(Workspace& workspace, const String& messageFileName, Console& console, AttachmentNames&) {
  if (!workspace.openText(messageFileName.cStr())) {
    console.print("File \"%.300s\" can't be opened\n", messageFileName.cStr());
  }
}

void scanMessage(ScanContext&, std::uint32_t, std::uint32_t) {}

void recordAttachmentName(ScanContext& context, String& name) { context.attachmentNames.pushBack(name); }

}  // namespace zentry
