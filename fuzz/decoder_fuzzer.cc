// The content decoders over any bytes. The promises: no read or write outside
// the String or the output block (both sized exactly, so AddressSanitizer sees
// one byte too far), and a decoded text is never longer than its input. Names
// in other charsets: their UTF-8 readings leave the decoded bytes as they
// are, are at most two, and grow at most six bytes for one (four for a
// converted byte, and the bound's margin for each word of eight or more);
// the lenient reading of a field's parameters is never longer than it.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/string.h"
#include "fuzz_check.h"
#include "scanner/charset_conversion.h"
#include "scanner/encoded_text.h"
#include "scanner/encoded_word.h"
#include "scanner/lenient_parameters.h"
#include "scanner/mime_parameters.h"
#include "scanner/uuencode.h"

namespace {

using zentry::String;
using zentry::fuzz::require;
using zentry::fuzz::visible;

void checkEncodedWord(const String& input) {
  const auto shown = [&] { return visible(input.cStr()); };
  String word(input);
  zentry::decodeEncodedWord(word);
  require(word.length() <= input.length(), "encoded word decodes no longer", shown);
}

void checkQuotedPrintable(const String& input) {
  const auto shown = [&] { return visible(input.cStr()); };
  String plain(input);
  zentry::decodeQuotedPrintable(plain, false);
  require(plain.length() <= input.length(), "quoted-printable decodes no longer", shown);
  // The line break is the only thing the flag may add.
  String withBreak(input);
  zentry::decodeQuotedPrintable(withBreak, true);
  require(withBreak.length() == plain.length() || withBreak.length() == plain.length() + 2,
          "the line break adds CR LF or nothing", shown);
  require(std::string(withBreak.cStr()).compare(0, plain.length(), plain.cStr()) == 0,
          "the line break only appends", shown);
}

void checkBase64(const String& input, int limit) {
  const auto shown = [&] { return visible(input.cStr()); };
  std::unique_ptr<unsigned char[]> output(new unsigned char[static_cast<std::size_t>(limit)]);
  const int written = input.decodeBase64(output.get(), limit);
  require(written >= 0 && written <= limit, "base64 keeps to its limit", shown);
  // Six bits a character: 4 characters give at most 3 bytes.
  require(static_cast<std::uint64_t>(written) * 4 <= static_cast<std::uint64_t>(input.length()) * 3,
          "base64 decodes no longer", shown);
  // A smaller limit cuts the same bytes short.
  const int smaller = written / 2;
  std::unique_ptr<unsigned char[]> prefix(new unsigned char[static_cast<std::size_t>(smaller)]);
  require(input.decodeBase64(prefix.get(), smaller) == smaller &&
              std::string(prefix.get(), prefix.get() + smaller) ==
                  std::string(output.get(), output.get() + smaller),
          "a smaller limit gives a prefix", shown);
}

void checkUuLine(const String& input) {
  // The decoded bytes must fit in the bytes of the line they came from.
  const std::size_t room = input.length() == 0 ? 0 : 3 * ((input.length() - 1) / 4);
  std::unique_ptr<unsigned char[]> output(new unsigned char[room]);
  zentry::decodeUuLine(input, output.get());
}

void checkCharsetReadings(const std::string& bytes) {
  const auto shown = [&] { return visible(bytes); };
  zentry::CharsetConverter charsets;
  std::vector<std::string> readings;
  const std::string decoded = zentry::decodeEncodedWords(bytes, charsets, readings);
  require(decoded == zentry::decodeEncodedWords(bytes), "the readings leave the decoded bytes alone", shown);
  require(readings.size() <= 2, "at most two UTF-8 readings", shown);
  for (const std::string& reading : readings) {
    require(reading != decoded, "a UTF-8 reading is another text", shown);
    require(reading.size() <= 6 * bytes.size(), "a UTF-8 reading stays bounded", shown);
  }
}

void checkLenientParameters(const std::string& bytes) {
  const auto shown = [&] { return visible(bytes); };
  const std::string lenient = zentry::lenientParameterList(bytes);
  // A ';' is put only where a blank or a comment was left out.
  require(lenient.size() <= bytes.size(), "the lenient list is never longer", shown);
  zentry::CharsetConverter charsets;
  zentry::ShownNames names;
  const std::string field = "Content-Disposition:" + bytes;
  zentry::collectShownNames(String(field.c_str()), names, &charsets);
  zentry::collectFallbackNames(String(("Content-Name:" + bytes).c_str()), names, &charsets);
  require(names.inOrder().size() <= zentry::ShownNames::maxNames, "a part's names stay bounded", shown);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // Names and subjects are short; 16 KB covers lines past every buffer size.
  if (size < 1 || size > 16 * 1024) return 0;
  // The first byte picks the base64 output limit, from 0 past the input size.
  const int limit = static_cast<int>(data[0]) * 64 / 255 * static_cast<int>(size) / 32;
  const std::string bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
  const String input(bytes.c_str());
  checkEncodedWord(input);
  checkQuotedPrintable(input);
  checkBase64(input, limit);
  checkUuLine(input);
  checkCharsetReadings(bytes);
  checkLenientParameters(bytes);
  return 0;
}
