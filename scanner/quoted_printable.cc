#include "scanner/encoded_word.h"

namespace zentry {
namespace {

// The digit arithmetic in 8 bits, with no validation: "0".."9" give 0..9 and
// "A".."F" give 10..15, but "a".."f" give 42..47 (0x2A..0x2F), and any other
// byte gives whatever the same two steps make of it, e.g. NUL gives 201.
unsigned char digitValue(char digit) {
  auto value = static_cast<unsigned char>(static_cast<unsigned char>(digit) - 48u);
  if (value > 9) value = static_cast<unsigned char>(value - 7u);
  return value;
}

}  // namespace

void decodeQuotedPrintable(String& text, bool appendLineBreak) {
  text.trimRight();
  String result;
  bool softBreak = false;
  const std::uint32_t length = text.length();
  for (std::uint32_t i = 0; i < length; ++i) {
    const char byte = text.charAt(i);
    if (byte != '=') {
      result.appendChar(byte);
    } else if (i == length - 1) {
      softBreak = true;
    } else {
      // A missing digit past the end reads as NUL and still goes through the
      // arithmetic: "x=4" decodes to "x" and 0x40 | 201 = 0xC9.
      const unsigned char high = digitValue(text.charAt(i + 1));
      const unsigned char low = digitValue(text.charAt(i + 2));
      result.appendChar(static_cast<char>(static_cast<unsigned char>(high << 4) | low));
      i += 2;
    }
  }
  // Assigning as a zero-terminated text: a decoded NUL ends the result.
  text.assign(result.cStr());
  if (appendLineBreak && !softBreak) text.append("\r\n");
}

}  // namespace zentry
