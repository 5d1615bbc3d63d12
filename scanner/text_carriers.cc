#include "scanner/text_carriers.h"

#include <cstring>
#include <string>

#include "platform/console.h"
#include "platform/line_source.h"
#include "scanner/binhex.h"
#include "scanner/strict_scan.h"
#include "scanner/yenc.h"

namespace zentry {
namespace {

void recordCarriedName(ScanContext& context, const char* encoding, const std::string& name) {
  if (context.console.tracing())
    context.console.trace("%s file - %.300s\n", encoding, withControlsVisible(name.c_str()).c_str());
  recordDecodedName(context, name);
}

bool startsLikeDelimiter(const char* line, std::size_t delivered, const String* boundary) {
  if (boundary == nullptr) return false;
  const std::size_t length = boundary->length();
  return delivered >= length + 2 && line[0] == '-' && line[1] == '-' &&
         std::memcmp(line + 2, boundary->cStr(), length) == 0;
}

std::string binHexNameAhead(ScanContext& context, std::uint32_t endOffset, const String* boundary) {
  BinHexNameReader reader;
  std::uint32_t position = 0;
  for (int line = 0; line < maxBinHexNameLines; ++line) {
    const std::size_t delivered = context.file.readLineTo(context.lineBuffer, lineLimit, &position);
    if (delivered == 0 || position >= endOffset) break;
    if (startsLikeDelimiter(context.lineBuffer, delivered, boundary)) break;
    if (!reader.takeLine(context.lineBuffer, delivered)) break;
  }
  return reader.name();
}

}  // namespace

void scanTextCarrier(ScanContext& context, std::size_t delivered, std::uint32_t endOffset,
                     const String* boundary) {
  const char* line = context.lineBuffer;
  if (line[0] == '=') {
    const std::string name = yencFileName(line, delivered);
    if (!name.empty()) recordCarriedName(context, "yEnc", name);
    return;
  }
  if (!announcesBinHex(line, delivered)) return;
  const std::uint32_t resume = positionOf(context.file);
  if (resume == failedPosition) return;
  const std::string name = binHexNameAhead(context, endOffset, boundary);
  context.file.seek(resume);
  if (!name.empty()) recordCarriedName(context, "BinHex", name);
}

}  // namespace zentry
