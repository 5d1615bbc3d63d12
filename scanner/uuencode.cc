#include "scanner/uuencode.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "platform/line_source.h"
#include "scanner/strict_scan.h"

namespace zentry {
namespace {

/// "begin 644 " is ten bytes; the name starts right after them.
constexpr std::uint32_t nameIndex = 10;
constexpr std::uint32_t maxNameLength = 300;

bool isOctalDigit(char byte) { return byte >= '0' && byte <= '7'; }

/// "begin " with its one blank, then three octal digits. The byte at index 9
/// is never looked at, so "begin 0644 x" opens a block named " x".
bool opensBlock(const String& line) {
  if (line.length() < 9) return false;
  return mayOpenUuencodeBlock(line.cStr()) && isOctalDigit(line.charAt(6)) && isOctalDigit(line.charAt(7)) &&
         isOctalDigit(line.charAt(8));
}

/// The text up to its first 0 byte, less one final LF.
void takeLine(String& line, const char* text) {
  line.assign(text);
  const std::uint32_t length = line.length();
  if (length != 0 && line.charAt(length - 1) == '\n') line.truncate(length - 1);
}

bool beginsWithEnd(const char* buffer) { return std::strncmp(buffer, "end", 3) == 0; }

bool sameText(const String& a, const String& b) {
  return a.length() == b.length() && std::memcmp(a.cStr(), b.cStr(), a.length()) == 0;
}

/// Never overflows: wraps like the unsigned counter it stands for. Two
/// thousand million nameless blocks do not fit below the 4 GiB position limit
/// anyway.
std::int32_t raised(std::int32_t counter) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(counter) + 1u);
}

// Signed bytes: 0x80 and above give negative values, as on the host.
int signedByte(unsigned char byte) { return byte < 128 ? int{byte} : byte - 256; }

/// The value of a line's length character: 0 for a blank or a grave accent.
int lengthValueOf(char first) {
  const int count = signedByte(static_cast<unsigned char>(first)) - 32;
  return count == 64 ? 0 : count;  // a grave accent stands for zero
}

/// One block, from the line after its "begin" line on.
class BlockReader {
 public:
  BlockReader(ScanContext& context, String& currentLine, std::uint32_t endOffset, const String& delimiter,
              const String& closeDelimiter)
      : context_(context),
        currentLine_(currentLine),
        endOffset_(endOffset),
        delimiter_(delimiter),
        closeDelimiter_(closeDelimiter) {}

  /// True when the block ends at its "end" line. *stopEnd receives the
  /// position after the line where the loop stopped (unchanged when no line
  /// followed the "begin" line).
  bool readBlock(std::uint32_t* stopEnd);

 private:
  /// False when a delimiter line of the leaf stopped the loop.
  bool runLoop(std::uint32_t* stopEnd);

  /// A block must not swallow the parts after it: the leaf's delimiter lines
  /// end it unterminated, so the walker meets them when it reads again.
  bool atDelimiterLine(const char* buffer, std::size_t delivered) const {
    const bool nulIsData = context_.strict != nullptr;
    return (delimiter_.length() != 0 && bufferedLineEquals(buffer, delivered, delimiter_, nulIsData)) ||
           (closeDelimiter_.length() != 0 &&
            bufferedLineEquals(buffer, delivered, closeDelimiter_, nulIsData));
  }

  ScanContext& context_;
  String& currentLine_;
  std::uint32_t endOffset_;
  const String& delimiter_;
  const String& closeDelimiter_;
};

bool BlockReader::runLoop(std::uint32_t* stopEnd) {
  LineSource& file = context_.file;
  char* buffer = context_.lineBuffer;
  // Strict mode keeps the block's decoded bytes for examination.
  BodyCapture* body = context_.strict != nullptr ? &context_.strict->uuencodedBody : nullptr;
  std::uint32_t position = 0;
  std::size_t delivered = file.readLineTo(buffer, lineLimit, &position);
  if (delivered == 0) return true;
  for (;;) {
    *stopEnd = position;
    if (position >= endOffset_) return true;
    if (atDelimiterLine(buffer, delivered)) return false;
    // Three bytes only: "end ", "endless" and "end" all stop here.
    if (beginsWithEnd(buffer)) return true;
    if (body != nullptr) body->addLine(buffer, delivered);
    // The length character is the line's first byte (0 for an empty line,
    // as charAt gives). The decoded bytes matter only on the line the loop
    // stops at: every other one is overwritten by the next read before
    // anything looks at it, so a line is taken and decoded only once it turns
    // out to be the last.
    const bool lastLine = lengthValueOf(buffer[0]) == 0;
    if (lastLine || (delivered = file.readLineTo(buffer, lineLimit, &position)) == 0) {
      takeLine(currentLine_, buffer);
      decodeUuLine(currentLine_, reinterpret_cast<unsigned char*>(buffer));
      return true;
    }
  }
}

bool BlockReader::readBlock(std::uint32_t* stopEnd) {
  if (!runLoop(stopEnd)) return false;
  LineSource& file = context_.file;
  char* buffer = context_.lineBuffer;
  // The buffer is tested as the loop left it: the line that stopped it, that
  // line with decoded bytes over its start, or the formatted name when no
  // line followed. A delimiter line read here can never equal "end".
  if (!beginsWithEnd(buffer)) {
    if (!file.readLine(buffer, lineLimit)) return false;
    if (positionOf(file) >= endOffset_) return false;
  }
  takeLine(currentLine_, buffer);
  return currentLine_.equals("end");
}

bool memoAnswers(const UuencodeMemo& memo, std::uint32_t resumeOffset, std::uint32_t endOffset,
                 const String& delimiter, const String& closeDelimiter) {
  return memo.valid && resumeOffset != failedPosition && resumeOffset >= memo.stretchStart &&
         resumeOffset < memo.stretchEnd && memo.endOffset == endOffset &&
         sameText(memo.delimiter, delimiter) && sameText(memo.closeDelimiter, closeDelimiter);
}

void remember(UuencodeMemo& memo, std::uint32_t resumeOffset, std::uint32_t stopEnd, std::uint32_t endOffset,
              const String& delimiter, const String& closeDelimiter) {
  memo.valid = resumeOffset != failedPosition;
  memo.stretchStart = resumeOffset;
  memo.stretchEnd = stopEnd;
  memo.endOffset = endOffset;
  memo.delimiter.assign(delimiter);
  memo.closeDelimiter.assign(closeDelimiter);
}

/// The block's name as "%.300s" leaves it, written into the line buffer too.
void formatName(String& name, char* buffer) {
  const std::uint32_t kept = std::min(name.length(), maxNameLength);
  std::memcpy(buffer, name.cStr(), kept);
  buffer[kept] = '\0';
  name.assign(buffer);
}

}  // namespace

void scanUuencodeBlock(ScanContext& context, String& currentLine, std::uint32_t endOffset,
                       std::int32_t& partCounter, const String& delimiter, const String& closeDelimiter) {
  if (!opensBlock(currentLine)) return;
  const std::uint32_t resumeOffset = positionOf(context.file);
  const bool nameless = currentLine.length() <= nameIndex;
  // Raised even when the block turns out unterminated.
  if (nameless) partCounter = raised(partCounter);
  UuencodeMemo& memo = context.uuencodeMemo;
  // Already known to end unterminated; the position still stands just after
  // the "begin" line, where the walker goes on, and the name is never needed.
  if (memoAnswers(memo, resumeOffset, endOffset, delimiter, closeDelimiter)) return;

  char* buffer = context.lineBuffer;
  String name;
  if (nameless) {
    std::snprintf(buffer, lineLimit, "File%d.DAT", static_cast<int>(partCounter));
    name.assign(buffer);
  } else {
    name = currentLine.tail(nameIndex);
  }
  formatName(name, buffer);

  BlockReader reader(context, currentLine, endOffset, delimiter, closeDelimiter);
  if (context.strict != nullptr) context.strict->uuencodedBody.start(BodyEncoding::Uuencode);
  std::uint32_t stopEnd = resumeOffset;
  if (reader.readBlock(&stopEnd)) {
    if (context.strict != nullptr) {
      examineBody(context, recordNameInStrictMode(context, name), context.strict->uuencodedBody);
    } else {
      recordAttachmentName(context, name);
    }
    return;
  }
  context.file.seek(resumeOffset);
  remember(memo, resumeOffset, stopEnd, endOffset, delimiter, closeDelimiter);
}

int decodeUuLine(const String& line, unsigned char* output) {
  const int count = lengthValueOf(line.charAt(0));

  const auto* bytes = reinterpret_cast<const unsigned char*>(line.cStr());
  const std::uint32_t length = line.length();
  std::uint32_t accumulator = 0;
  std::uint32_t held = 0;
  std::size_t written = 0;
  for (std::uint32_t i = 1; i < length; ++i) {
    auto value = static_cast<unsigned char>(bytes[i] - 32u);
    if (value == 64) value = 0;
    // Not masked to six bits: a negative value sets every higher bit and
    // wipes what the earlier bytes of the group put there.
    accumulator = (accumulator << 6) | static_cast<std::uint32_t>(signedByte(value));
    if (++held < 4) continue;
    output[written++] = static_cast<unsigned char>((accumulator >> 16) & 0xFFu);
    output[written++] = static_cast<unsigned char>((accumulator >> 8) & 0xFFu);
    output[written++] = static_cast<unsigned char>(accumulator & 0xFFu);
    accumulator = 0;
    held = 0;
  }
  return count;
}

}  // namespace zentry
