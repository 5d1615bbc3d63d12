#include "archive/tnef_listing.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "scanner/archive_limits.h"

// libytnef's headers define BYTE, WORD, DWORD and ULONG as macros: last.
extern "C" {
#include <ytnef.h>
}

namespace zentry {
namespace {

const char* const routeSeparator = " > ";
// An embedded object's data starts with the identifier of its interface.
constexpr std::size_t objectInterfaceBytes = 16;
const unsigned char tnefSignature[] = {0x78, 0x9F, 0x3E, 0x22};

// TNEF record: a level byte, the attribute (4 bytes), the data's length (4),
// the data, a 2-byte checksum. The stream opens with a signature and a key.
constexpr std::size_t streamHeaderBytes = 6;
constexpr std::size_t recordFrameBytes = 1 + 4 + 4 + 2;
constexpr std::uint32_t attachmentStart = 0x00069002;  // the record that opens an attachment

std::uint32_t le32(const unsigned char* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

// libytnef finds the attachment a record belongs to by walking its list from
// the first one, so a stream of many attachments costs the square of their
// number. The stream is handed over only up to the record that would open
// one attachment more than the bound; `cut` says whether it was cut.
std::size_t boundedPrefix(const unsigned char* data, std::size_t size, bool* cut) {
  std::size_t at = streamHeaderBytes;
  std::size_t attachments = 0;
  while (at <= size && size - at >= recordFrameBytes) {
    const std::uint32_t attribute = le32(data + at + 1);
    const std::uint32_t length = le32(data + at + 5);
    if (attribute == attachmentStart && ++attachments > maxTnefAttachments) {
      *cut = true;
      return at;
    }
    if (length > size - at - recordFrameBytes) break;  // damage: libytnef stops there too
    at += recordFrameBytes + length;
  }
  return size;
}

// libytnef keeps an attachment record that comes before the first
// attachment's start in the list's head, which TNEFFree leaves alone: its
// fields are freed here too.
struct ParsedTnef {
  TNEFStruct value{};
  ParsedTnef() { TNEFInitialize(&value); }
  ~ParsedTnef() {
    TNEFFreeAttachment(&value.starting_attach);
    TNEFFree(&value);
  }
  ParsedTnef(const ParsedTnef&) = delete;
  ParsedTnef& operator=(const ParsedTnef&) = delete;
};

// A string property up to its first NUL, or empty.
std::string textOf(const variableLength* value) {
  if (value == nullptr || value == MAPI_UNDEFINED || value->data == nullptr || value->size <= 0) return "";
  const auto* bytes = reinterpret_cast<const char*>(value->data);
  const auto size = static_cast<std::size_t>(value->size);
  const void* nul = std::memchr(bytes, 0, size);
  return std::string(bytes,
                     nul != nullptr ? static_cast<std::size_t>(static_cast<const char*>(nul) - bytes) : size);
}

// The names a client may show for an attachment, each distinct one once:
// the long file name Outlook shows, the short one, the display name, and
// the title of the attachment's own TNEF record.
std::vector<std::string> namesOf(Attachment& attachment) {
  std::vector<std::string> names;
  const auto add = [&names](const std::string& text) {
    const std::string name = memberBaseName(text);
    if (!name.empty() && std::find(names.begin(), names.end(), name) == names.end()) names.push_back(name);
  };
  for (const unsigned id : {0x3707u, 0x3704u, 0x3001u}) {  // long file name, file name, display name
    for (const unsigned type : {PT_UNICODE, PT_STRING8})
      add(textOf(MAPIFindProperty(&attachment.MAPI, PROP_TAG(type, id))));
  }
  add(textOf(&attachment.Title));
  return names;
}

// The attachment's bytes: its data record, or an embedded object (a message
// attached to the message, itself a TNEF stream after its interface
// identifier).
std::pair<const unsigned char*, std::size_t> bytesOf(Attachment& attachment) {
  if (attachment.FileData.data != nullptr && attachment.FileData.size > 0)
    return {attachment.FileData.data, static_cast<std::size_t>(attachment.FileData.size)};
  for (const unsigned type : {PT_OBJECT, PT_BINARY}) {
    const variableLength* object =
        MAPIFindProperty(&attachment.MAPI, PROP_TAG(type, 0x3701u));  // data object
    if (object == MAPI_UNDEFINED || object == nullptr || object->data == nullptr || object->size <= 0)
      continue;
    const auto size = static_cast<std::size_t>(object->size);
    if (type == PT_OBJECT && size > objectInterfaceBytes &&
        std::memcmp(object->data + objectInterfaceBytes, tnefSignature, sizeof tnefSignature) == 0)
      return {object->data + objectInterfaceBytes, size - objectInterfaceBytes};
    return {object->data, size};
  }
  return {nullptr, 0};
}

}  // namespace

bool listTnef(const ArchiveOrigin& origin, const unsigned char* data, std::size_t size,
              ExaminationBudget& budget, ExaminationSink& sink) {
  if (size > budget.decompressedBytesLeft) {
    budget.decompressedBytesLeft = 0;
    return false;
  }
  budget.decompressedBytesLeft -= size;
  bool cut = false;
  const std::size_t prefix = boundedPrefix(data, size, &cut);
  ParsedTnef tnef;
  // libytnef takes the bytes as writable but only reads them.
  const int status =
      TNEFParseMemory(const_cast<unsigned char*>(data), static_cast<long>(prefix), &tnef.value);
  const bool complete = status == 0 && !cut;
  // The head holds what came before the first attachment's start, which
  // may still name a file.
  for (Attachment* attachment = &tnef.value.starting_attach; attachment != nullptr;
       attachment = attachment->next) {
    const std::vector<std::string> names = namesOf(*attachment);
    const auto bytes = bytesOf(*attachment);
    if (names.empty() && bytes.second == 0) continue;  // a record that carries nothing
    // A nameless attachment still has bytes to look into, under the carrier's name.
    const std::string first = names.empty() ? origin.name : names.front();
    const std::string route = origin.route + routeSeparator + first;
    // Each name counts as a member, and a nameless attachment as one.
    const auto cost = static_cast<std::uint32_t>(std::max<std::size_t>(names.size(), 1));
    if (budget.membersLeft < cost) {
      budget.membersLeft = 0;
      return false;
    }
    budget.membersLeft -= cost;
    for (const std::string& name : names) sink.foundName(name, origin.route + routeSeparator + name);
    if (bytes.second == 0) continue;
    const ArchiveOrigin inner{first, route, origin.depth + 1};
    const ContentKind kind = examineCarriedFile(inner, bytes.first, bytes.second, false, budget, sink);
    for (std::size_t i = 1; i < names.size(); ++i)
      reportContentKind(names[i], origin.route + routeSeparator + names[i], kind, sink);
  }
  return complete;
}

}  // namespace zentry
