#include "host/terminal_text.h"

namespace zentry::host {

std::size_t utf8SequenceLength(const std::string& text, std::size_t i) {
  const auto lead = static_cast<unsigned char>(text[i]);
  if (lead < 0x80) return 1;
  // The second byte's range depends on the lead byte: that is what shuts out
  // overlong forms (E0 80..9F, F0 80..8F), surrogates (ED A0..BF) and values
  // above U+10FFFF (F4 90..BF), which strict decoders reject.
  std::size_t length = 0;
  unsigned char low = 0x80, high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  }
  if (length == 0 || i + length > text.size()) return 0;
  for (std::size_t k = 1; k < length; ++k) {
    const auto next = static_cast<unsigned char>(text[i + k]);
    if (next < (k == 1 ? low : 0x80) || next > (k == 1 ? high : 0xBF)) return 0;
  }
  return length;
}

std::string terminalText(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    const auto byte = static_cast<unsigned char>(text[i]);
    const std::size_t length = utf8SequenceLength(text, i);
    // C2 80..C2 9F is U+0080..U+009F, the C1 controls written in UTF-8.
    const bool control = byte < 0x20 || byte == 0x7f || (length == 0 && byte < 0xA0) ||
                         (length == 2 && byte == 0xC2 && static_cast<unsigned char>(text[i + 1]) < 0xA0);
    if (control) {
      out += '?';
    } else {
      out.append(text, i, length == 0 ? 1 : length);
    }
    i += length == 0 ? 1 : length;
  }
  return out;
}

}  // namespace zentry::host
