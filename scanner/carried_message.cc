#include "scanner/carried_message.h"

#include <cstring>
#include <memory>
#include <string_view>
#include <unordered_set>

#include "platform/console.h"
#include "platform/memory_line_source.h"
#include "scanner/archive_limits.h"
#include "scanner/message_file.h"
#include "scanner/mime_walker.h"
#include "scanner/strict_scan.h"

namespace zentry {
namespace {

// Fields a message is hardly ever without; one of them is enough to tell a
// header block from any other text of "word: value" lines.
const char* const messageFieldNames[] = {"from",         "to",           "subject",  "date",
                                         "message-id",   "mime-version", "received", "return-path",
                                         "content-type", "reply-to",     "sender",   "cc"};

char lowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; }

bool isMessageFieldName(std::string_view name) {
  for (const char* known : messageFieldNames) {
    if (std::strlen(known) != name.size()) continue;
    bool same = true;
    for (std::size_t i = 0; same && i < name.size(); ++i) same = lowerAscii(name[i]) == known[i];
    if (same) return true;
  }
  return false;
}

bool namedAsMessage(const std::string& name) {
  static const char suffix[] = ".eml";
  const std::size_t length = sizeof suffix - 1;
  if (name.size() <= length) return false;
  for (std::size_t i = 0; i < length; ++i) {
    if (lowerAscii(name[name.size() - length + i]) != suffix[i]) return false;
  }
  return true;
}

// How a header line opens: a field name of printable bytes other than ':',
// then the colon, blanks before it allowed as the obsolete syntax has them.
// Empty when the line opens no field.
std::string_view fieldNameOf(std::string_view line) {
  std::size_t at = 0;
  while (at < line.size() && line[at] > ' ' && line[at] < 0x7F && line[at] != ':') ++at;
  std::size_t colon = at;
  while (colon < line.size() && (line[colon] == ' ' || line[colon] == '\t')) ++colon;
  if (at == 0 || colon == line.size() || line[colon] != ':') return std::string_view();
  return line.substr(0, at);
}

class DiscardingSink : public TextSink {
 public:
  void write(const char*, std::size_t) override {}
};

std::string keepTail(const std::string& text, std::size_t limit) {
  return text.size() <= limit ? text : text.substr(text.size() - limit);
}

}  // namespace

bool looksLikeMailMessage(const std::string& name, const unsigned char* data, std::size_t size) {
  if (namedAsMessage(name)) return true;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  bool known = false;
  std::size_t at = 0;
  while (at < text.size()) {
    std::size_t end = text.find('\n', at);
    const bool cut = end == std::string_view::npos;  // the bytes given end inside this line
    if (cut) end = text.size();
    std::string_view line = text.substr(at, end - at);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty()) return known && at > 0;
    if (line[0] == ' ' || line[0] == '\t') {
      if (at == 0) return false;  // a continuation needs a field before it
    } else {
      // A line the bytes given cut may still be a field whose colon is to come.
      const std::string_view field = fieldNameOf(line);
      if (field.empty() && !cut) return false;
      known = known || isMessageFieldName(field);
    }
    at = end + 1;
  }
  return known;
}

bool scanCarriedMessage(const unsigned char* data, std::size_t size, const std::string& route,
                        MessageExamination& examination, ExaminationSink& sink) {
  // Read as a client reads a file: every byte, NUL and 0x1A included.
  MemoryLineSource source(MemoryLineSource::Borrowed{},
                          std::string_view(reinterpret_cast<const char*>(data), size), TextReading::Whole);
  DiscardingSink discarded;
  Console untraced(discarded);
  AttachmentNames names;
  StrictScan strict;
  strict.examination = &examination;
  strict.carrierSink = &sink;
  strict.carrierRoute = route;
  const auto context = std::make_unique<ScanContext>(source, untraced, names);
  context->strict = &strict;
  // The depth bounds count from where this message's own allowance starts.
  context->activePartCalls = maxPartDepth - maxCarriedPartDepth;
  context->activeMessageFrames = maxMessageDepth - maxCarriedMessageFrames;
  scanMessage(*context, 0, wholeFileEndOffset);
  std::unordered_set<std::string> reported;
  bool complete = true;
  const auto report = [&](const String& found) {
    const std::string name = keepTail(found.cStr(), maxMemberNameBytes);
    if (name.empty() || !reported.insert(name).second) return;
    // A zip of many messages of many parts must not give more names than a
    // zip of as many members.
    if (examination.budget.membersLeft == 0) {
      complete = false;
      return;
    }
    --examination.budget.membersLeft;
    sink.foundName(name, route + " > " + name);
  };
  for (const String& name : strict.exactFormNames) report(name);
  for (const String& name : names) report(name);
  return complete;
}

}  // namespace zentry
