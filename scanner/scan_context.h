#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "core/rule.h"
#include "core/string.h"
#include "platform/console.h"
#include "platform/line_source.h"
#include "scanner/header_fields.h"
#include "scanner/uuencode_memo.h"

namespace zentry {

/// Capacity of the line buffer: one read delivers at most 9999 characters.
constexpr std::size_t lineLimit = 10000;

/// State shared by every level of one run's scan: the open message file and
/// its single position, the trace, the collected names, and the line state
/// that serves every level. Each level reads a fresh line into lineBuffer and
/// currentLine before it looks at them again, and a header block is gathered
/// completely before anything recurses, so one copy of each is enough however
/// deep the walk goes. Too large for a small stack: callers allocate it.
struct StrictScan;

struct ScanContext {
  ScanContext(LineSource& messageFile, Console& traceConsole, AttachmentNames& names)
      : file(messageFile), console(traceConsole), attachmentNames(names) {}

  LineSource& file;
  Console& console;
  AttachmentNames& attachmentNames;
  char lineBuffer[lineLimit] = {};
  String currentLine;           ///< the line just read, without its final LF
  GatheredField gatheredField;  ///< the header field being gathered, continuation lines included
  String headerField;           ///< the gathered field, as it is interpreted
  int activePartCalls = 0;      ///< scanPart calls now running, over the whole run
  int activeMessageFrames = 0;  ///< scanMessage frames now running, the whole-file scan included
  UuencodeMemo uuencodeMemo;
  StrictScan* strict = nullptr;  ///< null in exact mode
};

/// Whether a line just read into a buffer (`delivered` characters), taken as
/// the walker takes it (up to its first 0 byte, less one final LF), equals
/// `text` exactly. Decided without copying the line: most body lines are only
/// ever compared with the delimiters. With `nulIsData` (strict mode) a 0 byte
/// is part of the line, so "--A\0x" is not "--A".
inline bool bufferedLineEquals(const char* buffer, std::size_t delivered, const String& text,
                               bool nulIsData = false) {
  const std::uint32_t size = text.length();
  if (delivered < size) return false;
  // buffer[size] is at most the terminator, as delivered >= size.
  const char after = buffer[size];
  if (after != '\0' && after != '\n') return false;
  if (nulIsData && delivered != size + (after == '\n' ? 1u : 0u)) return false;
  return std::memcmp(buffer, text.cStr(), size) == 0;
}

/// Counts a running call or frame for as long as it runs, whichever way it
/// returns; the depth bounds are read from these counts.
class ActiveCount {
 public:
  explicit ActiveCount(int& count) : count_(count) { ++count_; }
  ~ActiveCount() { --count_; }
  ActiveCount(const ActiveCount&) = delete;
  ActiveCount& operator=(const ActiveCount&) = delete;

 private:
  int& count_;
};

/// Decodes the name's encoded words in place, then appends a copy to the
/// collected names.
void recordAttachmentName(ScanContext& context, String& name);

}  // namespace zentry
