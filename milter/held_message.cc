#include "milter/held_message.h"

#include <algorithm>

namespace zentry::milter {

void HeldMessage::clear() {
  // The server keeps its own data in these bytes; the filter never reads them.
  bytes_.assign("XXXX");
  bytes_.shrink_to_fit();
  received_ = 0;
  oversized_ = false;
  sender_.clear();
  recipients_.clear();
}

void HeldMessage::expectSize(std::size_t declared) {
  // The server adds a few header fields of its own (Received:) to what the
  // client declared.
  constexpr std::size_t serverFields = 4096;
  const std::size_t expected =
      declared < limit_ - std::min(limit_, serverFields) ? declared + serverFields : limit_;
  bytes_.reserve(prefixSize + expected);
}

void HeldMessage::addHeaderField(std::string_view name, std::string_view value, bool leadingSpaceKept) {
  std::string field(name);
  field += ':';
  if (!leadingSpaceKept) field += ' ';
  // Servers pass a folded field with bare LFs between its lines.
  for (std::size_t i = 0; i < value.size(); ++i) {
    if (value[i] == '\n' && (i == 0 || value[i - 1] != '\r')) field += '\r';
    field += value[i];
  }
  field += "\r\n";
  append(field);
}

void HeldMessage::append(std::string_view bytes) {
  received_ += bytes.size();
  if (oversized_) return;
  if (received_ > limit_) {
    oversized_ = true;
    bytes_.assign("XXXX");
    bytes_.shrink_to_fit();
    return;
  }
  bytes_.append(bytes);
}

}  // namespace zentry::milter
