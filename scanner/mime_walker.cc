#include "scanner/mime_walker.h"

#include <cstring>
#include <new>

#include "scanner/encoded_word.h"
#include "scanner/header_fields.h"
#include "scanner/message_file.h"
#include "scanner/strict_scan.h"
#include "scanner/text_carriers.h"
#include "scanner/uuencode.h"

namespace zentry {
namespace {

enum class EncodingClass { Base64, QuotedPrintable, Other };

// Reads the next line into the shared buffer. Returns how many characters it
// delivered, or 0 at the end of the file and for a line that does not end
// below endOffset, which ends the caller's loop just the same. *position
// receives the position after the line.
std::size_t readUsableLine(ScanContext& context, std::uint32_t endOffset, std::uint32_t* position) {
  const std::size_t delivered = context.file.readLineTo(context.lineBuffer, lineLimit, position);
  return delivered != 0 && *position < endOffset ? delivered : 0;
}

// As readUsableLine, for a loop that looks only at lines beginning with a
// byte of `marks`: the lines it would pass over are never delivered.
std::size_t readMarkedUsableLine(ScanContext& context, std::uint32_t endOffset, const char* marks,
                                 std::uint32_t* position) {
  const std::size_t delivered = context.file.readMarkedLine(context.lineBuffer, lineLimit, marks, endOffset);
  if (delivered == 0) return 0;
  *position = positionOf(context.file);
  return *position < endOffset ? delivered : 0;
}

// currentLine becomes the line up to its first 0 byte, less one final LF.
// Returns the bytes taken, its LF included: fewer than were delivered when
// the line holds a NUL, where String stops.
std::size_t takeLine(ScanContext& context) {
  String& line = context.currentLine;
  line.assign(context.lineBuffer);
  const std::size_t taken = line.length();
  if (line.length() > 0 && line.charAt(line.length() - 1) == '\n') line.truncate(line.length() - 1);
  return taken;
}

// Strict mode reads NUL bytes as data; a header line keeps its bytes after
// one, which String could not hold, by leaving the NULs out.
void dropNulBytes(char* buffer, std::size_t delivered) {
  std::size_t kept = 0;
  for (std::size_t i = 0; i < delivered; ++i) {
    if (buffer[i] != '\0') buffer[kept++] = buffer[i];
  }
  buffer[kept] = '\0';
}

String delimiterOf(const BoundaryStack& boundaries) {
  String delimiter("--");
  delimiter.append(boundaries.back());
  return delimiter;
}

enum class DelimiterKind { none, delimiter, closeDelimiter };

// Whether the line just read is "--" + boundary or that and "--", as
// bufferedLineEquals would tell against those texts built as Strings, but
// without building them: a leaf compares every body line with both.
DelimiterKind delimiterKindOf(const char* buffer, std::size_t delivered, const String& boundary,
                              bool nulIsData) {
  const std::size_t size = std::size_t{2} + boundary.length();
  if (delivered < size || buffer[0] != '-' || buffer[1] != '-' ||
      std::memcmp(buffer + 2, boundary.cStr(), boundary.length()) != 0) {
    return DelimiterKind::none;
  }
  // delivered >= size, so buffer[size] is at most the terminator.
  const auto endsAt = [&](std::size_t at) {
    const char after = buffer[at];
    if (after != '\0' && after != '\n') return false;
    return !nulIsData || delivered == at + (after == '\n' ? 1u : 0u);
  };
  if (endsAt(size)) return DelimiterKind::delimiter;
  if (delivered >= size + 2 && buffer[size] == '-' && buffer[size + 1] == '-' && endsAt(size + 2)) {
    return DelimiterKind::closeDelimiter;
  }
  return DelimiterKind::none;
}

EncodingClass encodingClassOf(const String& transferEncoding) {
  if (transferEncoding.compareNoCase("base64") == 0) return EncodingClass::Base64;
  if (transferEncoding.compareNoCase("Quoted-Printable") == 0) return EncodingClass::QuotedPrintable;
  return EncodingClass::Other;
}

// Strict mode's names from the field just gathered.
void collectNamesInStrictMode(ScanContext& context, PartHeader& header, ShownNames& fallbackNames) {
  const String& field = context.headerField;
  if (mayBeParameterField(field.cStr(), field.length())) {
    collectShownNames(field, header.shownNames, context.strict->charsets);
  } else if (mayBeFallbackNameField(field.cStr(), field.length())) {
    collectFallbackNames(field, fallbackNames, context.strict->charsets);
  }
}

// Gathers header fields up to the empty line and interprets each one as the
// next one starts. A block cut short by the end of the file or of the range
// drops its last field uninterpreted.
void readHeaderBlock(ScanContext& context, std::uint32_t endOffset, PartHeader& header,
                     BoundaryStack& boundaries) {
  GatheredField& field = context.gatheredField;
  field.clear();
  // Names that count only when the parameters give none, as in clients.
  ShownNames fallbackNames;
  StructureTraits* traits = context.strict != nullptr ? &context.strict->structureTraits : nullptr;
  HeaderBlockTraits blockTraits(traits);
  std::uint32_t position = 0;
  while (std::size_t delivered = readUsableLine(context, endOffset, &position)) {
    if (traits != nullptr) {
      traits->noteHeaderLine(context.lineBuffer, delivered, lineLimit);
      traits->noteLine(context.lineBuffer, delivered, boundaries, true);
    }
    if (takeLine(context) != delivered && context.strict != nullptr) {
      dropNulBytes(context.lineBuffer, delivered);
      takeLine(context);
    }
    const String& line = context.currentLine;
    const char first = line.charAt(0);
    if (first == '\t' || first == ' ') {
      field.append(line);
      continue;
    }
    field.copyTo(context.headerField);
    const std::uint32_t boundariesBefore = boundaries.count();
    interpretHeaderField(context.headerField, header, boundaries);
    if (traits != nullptr) blockTraits.noteField(context.headerField, header, boundaries, boundariesBefore);
    if (context.strict != nullptr) collectNamesInStrictMode(context, header, fallbackNames);
    field.clear();
    field.append(line);
    if (line.length() == 0) break;
  }
  if (context.strict != nullptr && header.shownNames.inOrder().empty()) {
    for (const std::string& name : fallbackNames.inOrder()) header.shownNames.add(std::string_view(name));
  }
}

// The multipart walk. It returns only at the end of the file or the range:
// after its own close-delimiter it pops its boundary and goes on with the
// enclosing one, so nesting is flattened into one run of lines.
bool walkMultipart(ScanContext& context, BoundaryStack& boundaries, std::int32_t& partCounter,
                   std::uint32_t endOffset) {
  context.console.trace("Into multipart\n");
  if (boundaries.empty()) return false;
  String delimiter = delimiterOf(boundaries);
  const bool nulIsData = context.strict != nullptr;
  std::uint32_t position = 0;
  // Only a line that begins with '-' can be the delimiter.
  StructureTraits* traits = context.strict != nullptr ? &context.strict->structureTraits : nullptr;
  while (std::size_t delivered = readMarkedUsableLine(context, endOffset, "-", &position)) {
    if (traits != nullptr) traits->noteLine(context.lineBuffer, delivered, boundaries, false);
    if (!bufferedLineEquals(context.lineBuffer, delivered, delimiter, nulIsData)) continue;
    do {
      ++partCounter;
    } while (scanPart(context, boundaries, partCounter, endOffset));
    if (boundaries.count() > 1) {
      boundaries.popBack();
      delimiter = delimiterOf(boundaries);
    }
  }
  return false;
}

bool isEmbeddedMessage(const PartHeader& header) {
  return header.contentType.compareNoCase("message/rfc822") == 0;
}

// Exact mode records the one name it read; strict mode every name the part
// shows, and then looks inside its body.
void recordLeaf(ScanContext& context, PartHeader& header, bool nameGenerated, const BodyCapture* body) {
  if (context.strict == nullptr) {
    recordAttachmentName(context, header.partName);
    return;
  }
  recordPartInStrictMode(context, header.shownNames, header.partName, nameGenerated, body,
                         header.nestingUnread);
}

BodyEncoding bodyEncodingOf(EncodingClass encoding) {
  if (encoding == EncodingClass::Base64) return BodyEncoding::Base64;
  if (encoding == EncodingClass::QuotedPrintable) return BodyEncoding::QuotedPrintable;
  return BodyEncoding::Unencoded;
}

// A leaf that ended at a delimiter line. An embedded message is scanned again
// as a message of its own, up to but not including that line, unless the
// frames are already maxMessageDepth deep.
bool endLeafAtDelimiter(ScanContext& context, PartHeader& header, bool nameGenerated, const BodyCapture* body,
                        bool embeddedMessage, std::uint32_t bodyStart, std::uint32_t endPosition,
                        bool atDelimiter) {
  context.console.trace(" %lu - %lu\n", static_cast<unsigned long>(bodyStart),
                        static_cast<unsigned long>(endPosition));
  if (embeddedMessage && context.activeMessageFrames < maxMessageDepth) {
    scanMessage(context, bodyStart, endPosition);
    context.file.seek(endPosition);
  } else if (embeddedMessage) {
    header.nestingUnread = true;
  }
  recordLeaf(context, header, nameGenerated, body);
  return atDelimiter;
}

bool walkLeaf(ScanContext& context, BoundaryStack& boundaries, std::int32_t& partCounter,
              std::uint32_t endOffset, PartHeader& header) {
  const EncodingClass encoding = encodingClassOf(header.transferEncoding);
  const bool nameGenerated = header.partName.length() == 0;
  if (nameGenerated) {
    header.partName.assign(formatFieldsOf("File%d.tmp", static_cast<int>(partCounter)).c_str());
  }
  // The delimiter lines are compared in place with the innermost boundary;
  // they are built as Strings only for a uuencode block, which needs them.
  const String* boundary = boundaries.empty() ? nullptr : &boundaries.back();
  String delimiter;
  String closeDelimiter;
  const bool searchUuencode =
      encoding == EncodingClass::Other &&
      (header.isPlainText() || header.transferEncoding.compareNoCase("x-uuencode") == 0);
  // Strict mode gathers the decoded body as it goes; an embedded message is
  // scanned as a message instead.
  const bool embeddedMessage = isEmbeddedMessage(header);
  BodyCapture* body = nullptr;
  if (context.strict != nullptr && !embeddedMessage) {
    body = &context.strict->leafBody;
    body->start(bodyEncodingOf(encoding));
  }
  const bool nulIsData = context.strict != nullptr;
  // Strict mode also looks for yEnc and BinHex blocks where exact mode looks for uuencoded ones.
  const bool searchTextCarriers = searchUuencode && context.strict != nullptr;
  // Without a capture the loop looks only at lines that begin like a
  // delimiter ('-'), a uuencode "begin" line ('b') or, in strict mode, a
  // yEnc or BinHex opening ('=', '('); the rest are passed over unread. A
  // capture needs every line until it has what it keeps.
  const char* marks = searchTextCarriers ? "-b=(" : searchUuencode ? "-b" : "-";
  if (boundary == nullptr) ++marks;  // no delimiter to look for
  const std::uint32_t bodyStart = positionOf(context.file);
  StructureTraits* traits = context.strict != nullptr ? &context.strict->structureTraits : nullptr;
  std::uint32_t position = 0;
  while (std::size_t delivered = body != nullptr && body->wantsLines()
                                     ? readUsableLine(context, endOffset, &position)
                                     : readMarkedUsableLine(context, endOffset, marks, &position)) {
    if (traits != nullptr) traits->noteLine(context.lineBuffer, delivered, boundaries, false);
    if (boundary != nullptr) {
      const DelimiterKind kind = delimiterKindOf(context.lineBuffer, delivered, *boundary, nulIsData);
      if (kind != DelimiterKind::none) {
        return endLeafAtDelimiter(context, header, nameGenerated, body, embeddedMessage, bodyStart, position,
                                  kind == DelimiterKind::delimiter);
      }
    }
    if (body != nullptr) body->addLine(context.lineBuffer, delivered);
    if (searchUuencode && mayOpenUuencodeBlock(context.lineBuffer)) {
      if (boundary != nullptr && delimiter.length() == 0) {
        delimiter = delimiterOf(boundaries);
        closeDelimiter = delimiter;
        closeDelimiter.append("--");
      }
      takeLine(context);
      scanUuencodeBlock(context, context.currentLine, endOffset, partCounter, delimiter, closeDelimiter);
    } else if (searchTextCarriers && mayOpenTextCarrier(context.lineBuffer)) {
      scanTextCarrier(context, delivered, endOffset, boundary);
    }
  }
  // A message the walk leaves at the end of the text is not read as one;
  // clients read it.
  if (embeddedMessage && traits != nullptr) traits->show();
  recordLeaf(context, header, nameGenerated, body);
  return false;
}

// Lends a part header the name list of a part that is done, and takes it
// back, emptied, when the part is done in turn.
class LentShownNames {
 public:
  LentShownNames(StrictScan* strict, ShownNames& names) : strict_(strict), names_(names) {
    if (strict_ == nullptr || strict_->spareShownNames.empty()) return;
    names_ = std::move(strict_->spareShownNames.back());
    strict_->spareShownNames.pop_back();
  }
  ~LentShownNames() {
    if (strict_ == nullptr) return;
    names_.clear();
    try {
      strict_->spareShownNames.push_back(std::move(names_));
    } catch (const std::bad_alloc&) {
      // Without memory the list is not kept; the next part makes its own.
    }
  }
  LentShownNames(const LentShownNames&) = delete;
  LentShownNames& operator=(const LentShownNames&) = delete;

 private:
  StrictScan* strict_;
  ShownNames& names_;
};

}  // namespace

bool scanPart(ScanContext& context, BoundaryStack& boundaries, std::int32_t& partCounter,
              std::uint32_t endOffset) {
  const ActiveCount active(context.activePartCalls);
  context.console.trace("Process MIME Part %d\n", static_cast<int>(partCounter));
  PartHeader header;
  const LentShownNames lent(context.strict, header.shownNames);
  readHeaderBlock(context, endOffset, header, boundaries);
  context.console.trace("%.100s\n", header.contentTypeText());
  // Past maxPartDepth a multipart is walked as a leaf: the recursion, and so
  // the stack, stays bounded whatever the message nests.
  if (header.contentType.compareNoCasePrefix("Multipart/", 10) == 0) {
    if (context.activePartCalls < maxPartDepth)
      return walkMultipart(context, boundaries, partCounter, endOffset);
    header.nestingUnread = true;
  }
  return walkLeaf(context, boundaries, partCounter, endOffset, header);
}

void recordAttachmentName(ScanContext& context, String& name) {
  if (context.strict != nullptr) {
    recordNameInStrictMode(context, name);
    return;
  }
  decodeEncodedWord(name);
  context.attachmentNames.pushBack(name);
}

}  // namespace zentry
