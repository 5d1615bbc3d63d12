#include "scanner/strict_scan.h"

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
  if (raw.find('?', 0) < 0) {
    names.add(withoutTrailingDotsAndSpaces(raw.cStr()));  // no encoded word: both leave it
    return;
  }
  names.add(withoutTrailingDotsAndSpaces(decodeEncodedWords(raw.cStr())));
  String exact(raw);
  decodeEncodedWord(exact);
  names.add(withoutTrailingDotsAndSpaces(exact.cStr()));
}

}  // namespace

std::string withoutTrailingDotsAndSpaces(const std::string& name) {
  const std::size_t kept = name.find_last_not_of(". ");
  return kept == std::string::npos ? name : name.substr(0, kept + 1);
}

void recordDecodedName(ScanContext& context, const std::string& name) {
  // String ends at a 0 byte: a decoded NUL cuts the name as a C client would.
  context.attachmentNames.pushBack(String(withoutTrailingDotsAndSpaces(name).c_str()));
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
  for (const std::string& name : shown.inOrder()) tested.add(withoutTrailingDotsAndSpaces(name));
  if (!exactNameGenerated || tested.inOrder().empty()) addDecodedBothWays(exactName, tested);
  // A name that decodes to nothing still stands for the part.
  if (tested.inOrder().empty()) tested.add(exactName.cStr());
  for (const std::string& name : tested.inOrder()) context.attachmentNames.pushBack(String(name.c_str()));
  if (body != nullptr && !tested.inOrder().empty()) inspectBody(context, tested.inOrder().front(), *body);
}

void inspectBody(ScanContext& context, const std::string& name, const BodyCapture& body) {
  if (context.strict == nullptr) return;
  RecordingSink sink(context);
  inspectAttachment(name, body.data(), body.size(), body.truncated(), context.strict->budget, sink);
}

}  // namespace zentry
