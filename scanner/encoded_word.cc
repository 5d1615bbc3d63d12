#include "scanner/encoded_word.h"

#include <cstddef>
#include <cstring>

#include "core/allocator.h"

namespace zentry {

void decodeEncodedWord(String& text) {
  if (text.length() < 8) return;
  // Looked at in place: nearly every name is no encoded word.
  const char* bytes = text.cStr();
  const std::uint32_t length = text.length();
  if (std::memcmp(bytes, "=?", 2) != 0 || std::memcmp(bytes + length - 2, "?=", 2) != 0) return;
  if (text.findNoCase("?Q?", 0) < 0 && text.findNoCase("?B?", 0) < 0) return;

  String inner = text.mid(2, text.length() - 4);
  const String charset = inner.nextToken("?", true);  // read and not used
  const String encoding = inner.nextToken("?", false);
  // Everything after the encoding up to a line feed; bytes behind one are lost.
  String encoded = inner.nextToken("\n", false);
  if (encoded.find('?', 0) >= 0) return;
  const bool quoted = encoding.equals("Q");
  if (!quoted && !encoding.equals("B")) return;

  // Neither decoding is longer than its input: quoted-printable turns three
  // bytes into one, base64 four into three, so n stays below size.
  const std::size_t size = static_cast<std::size_t>(encoded.length()) + 10;
  auto* scratch = static_cast<char*>(allocateBytes(size));
  if (scratch == nullptr) return;
  if (quoted) {
    decodeQuotedPrintable(encoded, false);
    std::strncpy(scratch, encoded.cStr(), size - 1);
    scratch[size - 1] = '\0';
  } else {
    const int limit = size > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(size);
    const int n = encoded.decodeBase64(reinterpret_cast<unsigned char*>(scratch), limit);
    scratch[n] = '\0';
  }
  text.assign(scratch);
  releaseBytes(scratch);
}

}  // namespace zentry
