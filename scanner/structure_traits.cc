#include "scanner/structure_traits.h"

#include <cstring>
#include <string>
#include <vector>

#include "scanner/client_header_reading.h"

namespace zentry {
namespace {

bool sameText(const String& text, const std::string& other) {
  return text.length() == other.size() && std::memcmp(text.cStr(), other.data(), other.size()) == 0;
}

}  // namespace

void StructureTraits::noteDashLine(const char* buffer, std::size_t delivered, const BoundaryStack& open,
                                   bool inHeader) {
  if (open.empty()) return;
  if (open.count() > maxComparedBoundaries) {
    shown_ = true;
    return;
  }
  // Clients look for the innermost boundary first; the first one that fits
  // decides, as in their reading.
  bool innermost = true;
  for (auto it = open.end(); it != open.begin(); innermost = false) {
    const String& boundary = *--it;
    const std::size_t size = std::size_t{2} + boundary.length();
    if (delivered < size || std::memcmp(buffer + 2, boundary.cStr(), boundary.length()) != 0) continue;
    const DelimiterMatch match = delimiterEndOf(buffer + size, delivered - size);
    if (match.end == DelimiterEnd::none) continue;
    // The walk takes the innermost boundary's own delimiter lines as clients
    // do; a close delimiter it passes over ends nothing a client reads on in.
    if (inHeader || !innermost || match.padded) shown_ = true;
    return;
  }
}

void StructureTraits::noteHeaderLine(const char* buffer, std::size_t delivered, std::size_t limit) {
  if (delivered + 1 >= limit && buffer[delivered - 1] != '\n') shown_ = true;
}

void HeaderBlockTraits::noteField(const String& field, const PartHeader& header,
                                  const BoundaryStack& boundaries, std::uint32_t boundariesBefore) {
  if (traits_ == nullptr || traits_->shown()) return;
  const char* text = field.cStr();
  std::size_t valueStart = 0;
  const StructureField kind = structureFieldOf(text, field.length(), &valueStart);
  if (kind == StructureField::other || kind == StructureField::contentDisposition) return;
  // "Content-Type :" is no field to exact mode.
  if (!writtenWithoutBlanksBeforeColon(text, field.length(), kind)) {
    traits_->show();
    return;
  }
  if (kind == StructureField::contentType) {
    if (++contentTypes_ > 1) traits_->show();
    noteContentType(text + valueStart, field.length() - valueStart, header, boundaries, boundariesBefore);
    return;
  }
  if (++transferEncodings_ > 1) traits_->show();
  const std::string encoding = clientTransferEncoding(text + valueStart, field.length() - valueStart);
  if (!sameText(header.transferEncoding, encoding)) traits_->show();
  if (namesUuencoding(encoding) && header.transferEncoding.compareNoCase("x-uuencode") != 0) traits_->show();
}

void HeaderBlockTraits::noteContentType(const char* value, std::size_t size, const PartHeader& header,
                                        const BoundaryStack& boundaries, std::uint32_t boundariesBefore) {
  const std::vector<std::string> read = clientBoundaries(value, size);
  const std::uint32_t pushed = boundaries.count() - boundariesBefore;
  bool same = read.size() == pushed && read.size() < 2;
  if (same && pushed == 1) same = sameText(boundaries.back(), read.front());
  const bool multipart = header.contentType.compareNoCasePrefix("Multipart/", 10) == 0;
  if (!same || multipart == read.empty() || header.contentType.compareNoCase("multipart/digest") == 0)
    traits_->show();
}

}  // namespace zentry
