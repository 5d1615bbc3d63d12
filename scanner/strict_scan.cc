#include "scanner/strict_scan.h"

#include <cstring>

#include "scanner/encoded_text.h"
#include "scanner/encoded_word.h"
#include "scanner/scan_context.h"

namespace zentry {
namespace {

class RecordingSink : public InspectionSink {
 public:
  explicit RecordingSink(ScanContext& context) : context_(context) {}
  void foundName(const std::string& name, const std::string& route) override {
    context_.console.trace("Inside attachment - %.300s\n", route.c_str());
    recordDecodedName(context_, name);
  }

 private:
  ScanContext& context_;
};

// A name exact mode reads, decoded as strict mode decodes it and, when that
// gives something else, as exact mode does: strict mode never loses a name
// exact mode finds.
void addDecodedBothWays(const String& raw, ShownNames& names) {
  if (std::memchr(raw.cStr(), '?', raw.length()) == nullptr) {
    // No encoded word: both leave it. Most parts name it already, so it is
    // looked for before a copy is made.
    const std::size_t kept = trimmedLength(raw.cStr(), raw.length());
    if (!names.contains(std::string_view(raw.cStr(), kept))) names.add(std::string(raw.cStr(), kept));
    return;
  }
  names.add(withoutTrailingDotsAndSpaces(decodeEncodedWords(raw.cStr())));
  String exact(raw);
  decodeEncodedWord(exact);
  names.add(withoutTrailingDotsAndSpaces(exact.cStr()));
}

}  // namespace

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
  ShownNames names;
  addDecodedBothWays(raw, names);
  if (names.inOrder().empty()) names.add(raw.cStr());
  for (const std::string& name : names.inOrder()) context.attachmentNames.pushBack(String(name.c_str()));
  return names.inOrder().empty() ? std::string() : names.inOrder().front();
}

void recordPartInStrictMode(ScanContext& context, const ShownNames& shown, const String& exactName,
                            bool exactNameGenerated, const BodyCapture* body) {
  ShownNames& tested = context.strict->testedNames;
  tested.clear();
  for (const std::string& name : shown.inOrder()) {
    const std::size_t kept = trimmedLength(name.data(), name.size());
    tested.add(kept == name.size() ? name : name.substr(0, kept));
  }
  if (!exactNameGenerated || tested.inOrder().empty()) addDecodedBothWays(exactName, tested);
  // A name that decodes to nothing still stands for the part.
  if (tested.inOrder().empty()) tested.add(exactName.cStr());
  for (const std::string& name : tested.inOrder()) context.attachmentNames.emplaceBack(name.c_str());
  if (body != nullptr && !body->ruledOutEarly() && !tested.inOrder().empty())
    inspectBody(context, tested.inOrder().front(), *body);
}

void inspectBody(ScanContext& context, const std::string& name, const BodyCapture& body) {
  if (context.strict == nullptr) return;
  RecordingSink sink(context);
  inspectAttachment(name, body.data(), body.size(), body.truncated(), context.strict->budget, sink);
}

}  // namespace zentry
