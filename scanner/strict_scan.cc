#include "scanner/strict_scan.h"

#include <algorithm>
#include <cstring>
#include <string_view>
#include <unordered_set>

#include "scanner/client_structure_reading.h"
#include "scanner/encoded_text.h"
#include "scanner/encoded_word.h"
#include "scanner/message_file.h"
#include "scanner/reading_watch.h"
#include "scanner/scan_context.h"

namespace zentry {
namespace {

// A carried message's own route is bounded by the archive depth; what a
// part inside it adds is kept to its last bytes, so every answer line of
// the lister stays within what the filter reads.
constexpr std::size_t maxCarriedRouteBytes = 4 * (maxMemberNameBytes + 32);

std::string keepTail(const std::string& text, std::size_t limit) {
  return text.size() <= limit ? text : text.substr(text.size() - limit);
}

class RecordingSink : public ExaminationSink {
 public:
  explicit RecordingSink(ScanContext& context) : context_(context) {}
  void foundName(const std::string& name, const std::string& route) override {
    if (context_.strict->carrierSink != nullptr) {
      // A part's own name may be long; as for an archive member, its tail
      // (with any marker) is what the rules need.
      context_.strict->carrierSink->foundName(
          keepTail(name, maxMemberNameBytes),
          context_.strict->carrierRoute + " > " + keepTail(route, maxCarriedRouteBytes));
      return;
    }
    context_.console.trace("Inside attachment - %.300s\n", withControlsVisible(route.c_str()).c_str());
    recordDecodedName(context_, name);
  }

 private:
  ScanContext& context_;
};

// A name exact mode reads, decoded as strict mode decodes it and, when that
// gives something else, as exact mode does: strict mode never loses a name
// exact mode finds.
void addDecodedBothWays(const String& raw, CharsetConverter* charsets, ShownNames& names) {
  if (std::memchr(raw.cStr(), '?', raw.length()) == nullptr) {
    // No encoded word: both leave it. Most parts name it already, so it is
    // looked for before a copy is made.
    names.add(std::string_view(raw.cStr(), trimmedLength(raw.cStr(), raw.length())));
    return;
  }
  std::vector<std::string> utf8Readings;
  names.add(withoutTrailingDotsAndSpaces(charsets != nullptr
                                             ? decodeEncodedWords(raw.cStr(), *charsets, utf8Readings)
                                             : decodeEncodedWords(raw.cStr())));
  for (const std::string& reading : utf8Readings) names.add(withoutTrailingDotsAndSpaces(reading));
  String exact(raw);
  decodeEncodedWord(exact);
  names.add(withoutTrailingDotsAndSpaces(exact.cStr()));
}

// Records what exact mode records where strict mode records `raw` and its
// readings, and returns it: a reading equal to it need not be recorded again.
const String& recordExactForm(ScanContext& context, const String& raw) {
  AttachmentNames& exactForms = context.strict->exactFormNames;
  exactForms.pushBack(raw);
  decodeEncodedWord(exactForms.back());
  return exactForms.back();
}

bool sameName(const String& name, const std::string& other) {
  return name.length() == other.size() && std::memcmp(name.cStr(), other.data(), other.size()) == 0;
}

// Swallows what exact mode's reading would trace: strict mode traces its own.
class DiscardingSink : public TextSink {
 public:
  void write(const char*, std::size_t) override {}
};

// Moves to the end of `names` each of `added` it does not hold yet.
void unite(AttachmentNames& names, AttachmentNames& added) {
  if (added.empty()) return;
  std::unordered_set<std::string_view> held;
  held.reserve(std::size_t{names.count()} + added.count());
  for (const String& name : names) held.emplace(name.cStr(), name.length());
  // A name moved keeps its bytes where they were, so its view stays good.
  names.takeEach(added, [&](const String& name) { return held.emplace(name.cStr(), name.length()).second; });
}

}  // namespace

bool scanInStrictMode(Workspace& workspace, const String& messageFileName, Console& console,
                      AttachmentNames& names, StrictOutcome& outcome, ClientReading clientReading) {
  MessageExamination examination;
  CharsetConverter charsets;
  ExaminedBodies examinedBodies;
  AttachmentNames strictNames;
  StrictScan strict;
  strict.examination = &examination;
  strict.charsets = &charsets;
  strict.examinedBodies = &examinedBodies;
  ReadingSeen seen;
  if (!scanReading(workspace, messageFileName, TextReading::Exact, console, strictNames, &strict, &seen))
    return false;
  if (seen.nulInLine) {
    // The walks parted: exact mode's own scan gives its names, and the names
    // in exact form join strict mode's (the readings equal to them were not
    // recorded twice).
    DiscardingSink discarded;
    Console untraced(discarded);
    if (!scanReading(workspace, messageFileName, TextReading::Exact, untraced, names, nullptr)) return false;
    outcome.exactNames = names.count();
    unite(names, strict.exactFormNames);
  } else {
    names.takeAll(strict.exactFormNames);
    outcome.exactNames = names.count();
  }
  unite(names, strictNames);
  bool traitShown = strict.structureTraits.shown();
  if (seen.endsBeforeFile) {
    AttachmentNames wholeNames;
    StrictScan whole;
    whole.examination = &examination;
    whole.charsets = &charsets;
    whole.examinedBodies = &examinedBodies;
    console.trace("Whole file\n");
    if (scanReading(workspace, messageFileName, TextReading::Whole, console, wholeNames, &whole)) {
      unite(names, whole.exactFormNames);
      unite(names, wholeNames);
    }
    traitShown = traitShown || whole.structureTraits.shown();
  }
  if (traitShown || clientReading == ClientReading::always) {
    AttachmentNames clientNames;
    StrictScan client;
    client.examination = &examination;
    client.charsets = &charsets;
    client.examinedBodies = &examinedBodies;
    if (readAsClientsDo(workspace, messageFileName, console, clientNames, client)) {
      unite(names, client.exactFormNames);
      unite(names, clientNames);
    }
  }
  outcome.installationFault = examination.installationFault;
  return true;
}

std::size_t trimmedLength(const char* name, std::size_t size) {
  std::size_t kept = size;
  while (kept > 0 && (name[kept - 1] == '.' || name[kept - 1] == ' ')) --kept;
  // A name of dots and spaces only is kept whole.
  return kept == 0 ? size : kept;
}

std::string withoutTrailingDotsAndSpaces(const std::string& name) {
  const std::size_t kept = trimmedLength(name.data(), name.size());
  return kept == name.size() ? name : name.substr(0, kept);
}

void recordDecodedName(ScanContext& context, const std::string& name) {
  // String ends at a 0 byte: a decoded NUL cuts the name as a C client would.
  context.attachmentNames.emplaceBack(withoutTrailingDotsAndSpaces(name).c_str());
}

std::string recordNameInStrictMode(ScanContext& context, const String& raw) {
  const String& exactForm = recordExactForm(context, raw);
  ShownNames names;
  addDecodedBothWays(raw, context.strict->charsets, names);
  if (names.inOrder().empty()) names.add(std::string_view(raw.cStr(), raw.length()));
  for (const std::string& name : names.inOrder()) {
    if (!sameName(exactForm, name)) context.attachmentNames.emplaceBack(name.c_str());
  }
  return names.inOrder().empty() ? std::string() : names.inOrder().front();
}

void recordPartInStrictMode(ScanContext& context, ShownNames& shown, const String& exactName,
                            bool exactNameGenerated, const BodyCapture* body, bool nestingUnread) {
  const String& exactForm = recordExactForm(context, exactName);
  // The names as shown are tested as they are unless one needs trimming:
  // then the trimmed ones go to a list of their own, where two that trim
  // to the same name count once.
  const bool anyTrimmed = std::any_of(
      shown.inOrder().begin(), shown.inOrder().end(),
      [](const std::string& name) { return trimmedLength(name.data(), name.size()) != name.size(); });
  ShownNames& tested = anyTrimmed ? context.strict->testedNames : shown;
  if (anyTrimmed) {
    tested.clear();
    for (const std::string& name : shown.inOrder())
      tested.add(std::string_view(name.data(), trimmedLength(name.data(), name.size())));
  }
  if (!exactNameGenerated || tested.inOrder().empty())
    addDecodedBothWays(exactName, context.strict->charsets, tested);
  // A name that decodes to nothing still stands for the part.
  if (tested.inOrder().empty()) tested.add(std::string_view(exactName.cStr(), exactName.length()));
  for (const std::string& name : tested.inOrder()) {
    if (!sameName(exactForm, name)) context.attachmentNames.emplaceBack(name.c_str());
  }
  if (nestingUnread) {
    const std::string& first =
        tested.inOrder().empty() ? std::string(exactName.cStr()) : tested.inOrder().front();
    context.attachmentNames.emplaceBack((first + incompleteMessageMarker).c_str());
  }
  if (body != nullptr && !body->ruledOutEarly() && !tested.inOrder().empty())
    examineBody(context, tested.inOrder().front(), *body);
}

void examineBody(ScanContext& context, const std::string& name, const BodyCapture& body) {
  if (context.strict == nullptr) return;
  if (context.strict->examinedBodies != nullptr &&
      !context.strict->examinedBodies->firstTime(name, body.data(), body.size(), body.truncated()))
    return;
  RecordingSink sink(context);
  examineAttachment(name, body.data(), body.size(), body.truncated(), *context.strict->examination, sink);
}

}  // namespace zentry
