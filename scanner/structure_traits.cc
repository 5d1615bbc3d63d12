#include "scanner/structure_traits.h"

#include <cstring>
#include <string>
#include <vector>

#include "scanner/client_header_reading.h"

namespace zentry {
namespace {

bool isBlank(char byte) { return byte == ' ' || byte == '\t' || byte == '\r' || byte == '\n'; }

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
  // Exact mode's value is the clients' one but for the blanks it keeps at
  // its end; only a value that ends in one is read otherwise.
  const String& encoding = header.transferEncoding;
  const std::uint32_t size = encoding.length();
  if (size != 0 && isBlank(encoding.charAt(size - 1))) traits_->show();
  if (encoding.compareNoCase("x-uue") == 0 || encoding.compareNoCase("uue") == 0) traits_->show();
}

void HeaderBlockTraits::noteContentType(const char* value, std::size_t size, const PartHeader& header,
                                        const BoundaryStack& boundaries, std::uint32_t boundariesBefore) {
  const std::uint32_t pushed = boundaries.count() - boundariesBefore;
  // Most parts give no boundary: the value is looked through once for one.
  const std::vector<std::string> read = pushed == 0 && !mayGiveBoundary(value, size)
                                            ? std::vector<std::string>()
                                            : clientBoundaries(value, size);
  bool same = read.size() == pushed && read.size() < 2;
  if (same && pushed == 1) same = sameText(boundaries.back(), read.front());
  const bool multipart = header.contentType.compareNoCasePrefix("Multipart/", 10) == 0;
  if (!same || multipart == read.empty() || header.contentType.compareNoCase("multipart/digest") == 0)
    traits_->show();
}

}  // namespace zentry
