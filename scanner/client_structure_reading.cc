#include "scanner/client_structure_reading.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "scanner/client_header_reading.h"
#include "scanner/encoded_word.h"
#include "scanner/message_file.h"
#include "scanner/mime_walker.h"
#include "scanner/open_boundaries.h"
#include "scanner/scan_context.h"
#include "scanner/strict_scan.h"
#include "scanner/text_carriers.h"
#include "scanner/uuencode.h"

namespace zentry {
namespace {

enum Decision { contentTypeField, boundaryParameter, encodingField, decisionCount };

/// Which candidate a reading takes at each kind of decision: an index, or
/// lastCandidate.
constexpr int lastCandidate = -1;
struct Choice {
  int pick[decisionCount];
};

/// The readings in the order they are tried.
std::vector<Choice> plannedReadings() {
  std::vector<Choice> planned{{{0, 0, 0}}, {{lastCandidate, lastCandidate, lastCandidate}}};
  for (int mix = 1; mix < 7; ++mix) {
    Choice choice{};
    for (int kind = 0; kind < decisionCount; ++kind)
      choice.pick[kind] = (mix >> kind & 1) != 0 ? lastCandidate : 0;
    planned.push_back(choice);
  }
  for (int index = 1; index + 1 < followedCandidates; ++index) planned.push_back({{index, index, index}});
  return planned;
}

/// The index a pick stands for among `count` candidates (count >= 1).
int resolved(int pick, int count) { return pick == lastCandidate || pick >= count - 1 ? count - 1 : pick; }

/// Two readings that resolve alike wherever the readings so far met a
/// decision (at most `most` candidates of each kind) read alike.
bool sameReading(const Choice& a, const Choice& b, const int most[decisionCount]) {
  for (int kind = 0; kind < decisionCount; ++kind) {
    const int count = std::max(most[kind], 1);
    if (resolved(a.pick[kind], count) != resolved(b.pick[kind], count)) return false;
  }
  return true;
}

/// A message being read inside another: the part that holds it is
/// recorded when the message ends, after the parts inside it.
struct MessageFrame {
  std::int32_t partCounter = 0;
  std::unique_ptr<PartHeader> holder;
  std::int32_t holderNumber = 0;
};

/// How a header block ended: at its empty line, at a delimiter (no body
/// follows), or at the end of the file.
struct HeaderEnd {
  bool blankLine = false;
  FoundDelimiter delimiter;
};

/// One part's header block as clients read it.
struct ClientPart {
  PartHeader header;
  bool multipart = false;
  bool message = false;
  bool hasBoundary = false;
  std::string boundary;
  bool digest = false;
  bool unread = false;  ///< marked incomplete: candidates left unfollowed, or the block too large
};

String asString(const std::string& text) {
  String value;
  value.assignPrefix(text.data(), static_cast<std::uint32_t>(text.size()));
  return value;
}

class ClientWalk {
 public:
  ClientWalk(ScanContext& context, const Choice& choice, int most[decisionCount])
      : context_(context), choice_(choice), most_(most) {}
  void walk();

 private:
  std::size_t readLine();
  std::size_t readMarked(const char* marks);
  HeaderEnd readHeader(std::vector<std::string>& fields, bool& overflow);
  int choose(Decision decision, std::size_t count, bool& unread) const;
  void interpret(const std::vector<std::string>& fields, bool parentDigest, ClientPart& part) const;
  FoundDelimiter readLeaf(ClientPart& part, std::int32_t number);
  FoundDelimiter skipToDelimiter();
  void record(PartHeader& header, std::int32_t number, const BodyCapture* body);
  /// Traces the names of `names` from the `first`th on: a uuencoded file's.
  void traceNamesFrom(const AttachmentNames& names, std::uint32_t first, std::int32_t number);
  void endFramesAbove(std::size_t frame);
  /// True when a new part follows.
  bool takeDelimiter(const FoundDelimiter& found, std::int32_t* number);

  ScanContext& context_;
  Choice choice_;
  int* most_;
  OpenBoundaries open_;
  std::vector<MessageFrame> frames_;
};

std::size_t ClientWalk::readLine() {
  std::uint32_t position = 0;
  const std::size_t delivered = context_.file.readLineTo(context_.lineBuffer, lineLimit, &position);
  return delivered != 0 && position < wholeFileEndOffset ? delivered : 0;
}

std::size_t ClientWalk::readMarked(const char* marks) {
  const std::size_t delivered =
      context_.file.readMarkedLine(context_.lineBuffer, lineLimit, marks, wholeFileEndOffset);
  return delivered != 0 && positionOf(context_.file) < wholeFileEndOffset ? delivered : 0;
}

// Gathers the fields of a header block, each physical line whole, NULs left
// out as strict mode leaves them out. A block cut short by the end of the
// file drops its last field, as exact mode's does; one ended by a delimiter
// keeps it.
HeaderEnd ClientWalk::readHeader(std::vector<std::string>& fields, bool& overflow) {
  std::string field;
  std::size_t kept = 0;
  bool lineGoesOn = false;
  for (;;) {
    const std::size_t delivered = readLine();
    if (delivered == 0) return HeaderEnd{};
    const char* buffer = context_.lineBuffer;
    if (!lineGoesOn) {
      HeaderEnd end;
      end.delimiter = open_.delimiterOf(buffer, delivered);
      if (end.delimiter.end != DelimiterEnd::none) {
        fields.push_back(std::move(field));
        return end;
      }
    }
    const bool cut = delivered + 1 >= lineLimit && buffer[delivered - 1] != '\n';
    std::string line;
    for (std::size_t i = 0; i < delivered; ++i) {
      if (buffer[i] != '\0') line.push_back(buffer[i]);
    }
    if (!line.empty() && line.back() == '\n') line.pop_back();
    const bool continued = lineGoesOn || (!line.empty() && (line[0] == ' ' || line[0] == '\t'));
    const bool ends = !lineGoesOn && line.empty();
    lineGoesOn = cut;
    if (!continued) {
      fields.push_back(std::move(field));
      field.clear();
    }
    if (ends) {
      HeaderEnd end;
      end.blankLine = true;
      return end;
    }
    if (kept + line.size() > maxClientHeaderBlockBytes) {
      overflow = true;
      continue;
    }
    kept += line.size();
    field += line;
  }
}

int ClientWalk::choose(Decision decision, std::size_t count, bool& unread) const {
  if (count == 0) return -1;
  most_[decision] = std::max(most_[decision], static_cast<int>(std::min<std::size_t>(count, 1 << 20)));
  if (count > static_cast<std::size_t>(followedCandidates)) unread = true;
  return resolved(choice_.pick[decision], static_cast<int>(count));
}

void ClientWalk::interpret(const std::vector<std::string>& fields, bool parentDigest,
                           ClientPart& part) const {
  std::vector<std::size_t> types;
  std::vector<std::size_t> encodings;
  for (std::size_t i = 0; i < fields.size(); ++i) {
    std::size_t valueStart = 0;
    const StructureField kind = structureFieldOf(fields[i].data(), fields[i].size(), &valueStart);
    if (kind == StructureField::contentType) types.push_back(i);
    if (kind == StructureField::transferEncoding) encodings.push_back(i);
  }
  const int type = choose(contentTypeField, types.size(), part.unread);
  const int encoding = choose(encodingField, encodings.size(), part.unread);
  BoundaryStack ignored;
  ShownNames fallbackNames;
  String field;
  for (std::size_t i = 0; i < fields.size(); ++i) {
    const std::string& text = fields[i];
    // The names as strict mode's walk collects them, so that a part both
    // read alike gives the same names.
    if (mayBeParameterField(text.data(), text.size())) {
      collectShownNames(asString(text), part.header.shownNames, context_.strict->charsets);
    } else if (mayBeFallbackNameField(text.data(), text.size())) {
      collectFallbackNames(asString(text), fallbackNames, context_.strict->charsets);
    }
    std::size_t valueStart = 0;
    const StructureField kind = structureFieldOf(text.data(), text.size(), &valueStart);
    const char* value = text.data() + valueStart;
    const std::size_t size = text.size() - valueStart;
    if (kind == StructureField::contentType) {
      if (i != types[static_cast<std::size_t>(type)]) continue;
      field = asString("Content-Type:" + std::string(value, size));
      const std::vector<std::string> boundaries = clientBoundaries(value, size);
      const int chosen = choose(boundaryParameter, boundaries.size(), part.unread);
      part.hasBoundary = chosen >= 0;
      if (part.hasBoundary) part.boundary = boundaries[static_cast<std::size_t>(chosen)];
    } else if (kind == StructureField::transferEncoding) {
      if (i != encodings[static_cast<std::size_t>(encoding)]) continue;
      std::string encodingName = clientTransferEncoding(value, size);
      // The uuencode search knows one name for what clients call three.
      if (namesUuencoding(encodingName)) encodingName = "x-uuencode";
      field = asString("Content-Transfer-Encoding:" + encodingName);
    } else {
      field = asString(text);
    }
    interpretHeaderField(field, part.header, ignored);
  }
  if (part.header.shownNames.inOrder().empty()) {
    for (const std::string& name : fallbackNames.inOrder())
      part.header.shownNames.add(std::string_view(name));
  }
  const PartHeader& header = part.header;
  part.multipart = header.contentType.compareNoCasePrefix("Multipart/", 10) == 0;
  part.digest = header.contentType.compareNoCase("multipart/digest") == 0;
  part.message = header.contentType.compareNoCase("message/rfc822") == 0 || (types.empty() && parentDigest);
}

void ClientWalk::traceNamesFrom(const AttachmentNames& names, std::uint32_t first, std::int32_t number) {
  // From the end: a block adds a name or two to a list that may be long.
  auto it = names.end();
  for (std::uint32_t added = names.count() - first; added > 0; --added) --it;
  for (; it != names.end(); ++it)
    context_.console.trace("Client part %d uuencoded - %.300s\n", static_cast<int>(number),
                           withControlsVisible(it->cStr()).c_str());
}

void ClientWalk::record(PartHeader& header, std::int32_t number, const BodyCapture* body) {
  const bool generated = header.partName.length() == 0;
  if (generated) header.partName.assign(formatFieldsOf("File%d.tmp", static_cast<int>(number)).c_str());
  const std::string first = header.shownNames.inOrder().empty() ? std::string(header.partName.cStr())
                                                                : header.shownNames.inOrder().front();
  context_.console.trace("Client part %d - %.300s\n", static_cast<int>(number),
                         withControlsVisible(first.c_str()).c_str());
  recordPartInStrictMode(context_, header.shownNames, header.partName, generated, body, header.nestingUnread);
}

FoundDelimiter ClientWalk::readLeaf(ClientPart& part, std::int32_t number) {
  PartHeader& header = part.header;
  const bool base64 = header.transferEncoding.compareNoCase("base64") == 0;
  const bool quotedPrintable = header.transferEncoding.compareNoCase("Quoted-Printable") == 0;
  const bool searchUuencode =
      !base64 && !quotedPrintable &&
      (header.isPlainText() || header.transferEncoding.compareNoCase("x-uuencode") == 0);
  BodyCapture* body = nullptr;
  if (!part.message) {
    body = &context_.strict->leafBody;
    body->start(base64            ? BodyEncoding::Base64
                : quotedPrintable ? BodyEncoding::QuotedPrintable
                                  : BodyEncoding::Unencoded);
  }
  String delimiter;
  String closeDelimiter;
  String boundary;
  if (!open_.empty()) {
    boundary.assignPrefix(open_.back().boundary.data(),
                          static_cast<std::uint32_t>(open_.back().boundary.size()));
    delimiter.assign(("--" + open_.back().boundary).c_str());
    closeDelimiter.assign(("--" + open_.back().boundary + "--").c_str());
  }
  // yEnc and BinHex are looked for where uuencode is, as strict mode's walk does.
  const char* marks = searchUuencode ? "-b=(" : "-";
  FoundDelimiter found;
  while (std::size_t delivered = body != nullptr && body->wantsLines() ? readLine() : readMarked(marks)) {
    found = open_.delimiterOf(context_.lineBuffer, delivered);
    if (found.end != DelimiterEnd::none) break;
    if (body != nullptr) body->addLine(context_.lineBuffer, delivered);
    if (searchUuencode && mayOpenUuencodeBlock(context_.lineBuffer)) {
      context_.currentLine.assign(context_.lineBuffer);
      const std::uint32_t length = context_.currentLine.length();
      if (length != 0 && context_.currentLine.charAt(length - 1) == '\n')
        context_.currentLine.truncate(length - 1);
      AttachmentNames& exactForms = context_.strict->exactFormNames;
      const std::uint32_t namesBefore = context_.attachmentNames.count();
      const std::uint32_t exactFormsBefore = exactForms.count();
      scanUuencodeBlock(context_, context_.currentLine, wholeFileEndOffset, frames_.back().partCounter,
                        delimiter, closeDelimiter);
      traceNamesFrom(exactForms, exactFormsBefore, number);
      traceNamesFrom(context_.attachmentNames, namesBefore, number);
    } else if (searchUuencode && mayOpenTextCarrier(context_.lineBuffer)) {
      scanTextCarrier(context_, delivered, wholeFileEndOffset, open_.empty() ? nullptr : &boundary);
    }
  }
  if (part.unread) header.nestingUnread = true;
  record(header, number, body);
  return found;
}

FoundDelimiter ClientWalk::skipToDelimiter() {
  while (std::size_t delivered = readMarked("-")) {
    const FoundDelimiter found = open_.delimiterOf(context_.lineBuffer, delivered);
    if (found.end != DelimiterEnd::none) return found;
  }
  return FoundDelimiter{};
}

void ClientWalk::endFramesAbove(std::size_t frame) {
  while (frames_.size() > frame + 1) {
    MessageFrame& ending = frames_.back();
    std::unique_ptr<PartHeader> holder = std::move(ending.holder);
    const std::int32_t number = ending.holderNumber;
    frames_.pop_back();
    if (holder != nullptr) record(*holder, number, nullptr);
  }
}

bool ClientWalk::takeDelimiter(const FoundDelimiter& found, std::int32_t* number) {
  if (found.end == DelimiterEnd::none) {
    endFramesAbove(0);
    return false;
  }
  endFramesAbove(open_[found.level].frame);
  open_.keep(found.level + 1);
  if (found.end == DelimiterEnd::closeDelimiter) {
    open_.keep(found.level);
    return takeDelimiter(skipToDelimiter(), number);
  }
  *number = ++frames_.back().partCounter;
  return true;
}

void ClientWalk::walk() {
  context_.file.seek(messageStartOffset);
  frames_.emplace_back();
  std::int32_t number = 0;
  for (;;) {
    const bool parentDigest =
        !open_.empty() && open_.back().frame + 1 == frames_.size() && open_.back().digest;
    std::vector<std::string> fields;
    bool overflow = false;
    const HeaderEnd headerEnd = readHeader(fields, overflow);
    ClientPart part;
    interpret(fields, parentDigest, part);
    part.unread = part.unread || overflow;
    if (!headerEnd.blankLine) {
      // The block ended at a delimiter or at the end of the file: no body,
      // and a multipart without one holds no part to name.
      if (part.unread) part.header.nestingUnread = true;
      if (!part.multipart) record(part.header, number, nullptr);
      if (!takeDelimiter(headerEnd.delimiter, &number)) return;
      continue;
    }
    if (part.multipart && part.hasBoundary &&
        open_.size() < static_cast<std::size_t>(maxClientOpenMultiparts)) {
      open_.push(OpenMultipart{part.boundary, frames_.size() - 1, part.digest});
      if (!takeDelimiter(skipToDelimiter(), &number)) return;
      continue;
    }
    if (part.multipart && part.hasBoundary) part.header.nestingUnread = true;
    if (part.message && frames_.size() < static_cast<std::size_t>(maxMessageDepth)) {
      MessageFrame frame;
      frame.holder = std::make_unique<PartHeader>(std::move(part.header));
      frame.holderNumber = number;
      frames_.push_back(std::move(frame));
      number = 0;
      continue;
    }
    if (part.message) part.header.nestingUnread = true;
    if (!takeDelimiter(readLeaf(part, number), &number)) return;
  }
}

}  // namespace

bool readAsClientsDo(Workspace& workspace, const String& messageFileName, Console& console,
                     AttachmentNames& names, StrictScan& strict) {
  const std::vector<Choice> planned = plannedReadings();
  std::vector<Choice> done;
  int most[decisionCount] = {0, 0, 0};
  bool progressed = true;
  while (progressed && done.size() < static_cast<std::size_t>(maxClientReadings)) {
    progressed = false;
    for (const Choice& choice : planned) {
      if (done.size() == static_cast<std::size_t>(maxClientReadings)) break;
      if (std::any_of(done.begin(), done.end(),
                      [&](const Choice& run) { return sameReading(run, choice, most); }))
        continue;
      const std::unique_ptr<LineSource> file = workspace.openText(messageFileName.cStr(), TextReading::Whole);
      if (!file) return false;
      console.trace("Read as clients read it, reading %d\n", static_cast<int>(done.size() + 1));
      const auto context = std::make_unique<ScanContext>(*file, console, names);
      context->strict = &strict;
      ClientWalk(*context, choice, most).walk();
      done.push_back(choice);
      progressed = true;
    }
  }
  return true;
}

}  // namespace zentry
