#include "scanner/encoded_text.h"

#include <cstddef>
#include <string_view>

#include "core/hex_digit.h"

namespace zentry {
namespace {

int base64Value(char byte) {
  if (byte >= 'A' && byte <= 'Z') return byte - 'A';
  if (byte >= 'a' && byte <= 'z') return byte - 'a' + 26;
  if (byte >= '0' && byte <= '9') return byte - '0' + 52;
  if (byte == '+') return 62;
  if (byte == '/') return 63;
  return -1;
}

bool isBlank(char byte) { return byte == ' ' || byte == '\t' || byte == '\r' || byte == '\n'; }

// Bytes outside the alphabet are skipped and padding ends nothing: a
// client shows what it can of a sloppy word.
void appendBase64(const std::string& text, std::size_t begin, std::size_t end, std::string& out) {
  unsigned bits = 0;
  unsigned held = 0;
  for (std::size_t i = begin; i < end; ++i) {
    const int value = base64Value(text[i]);
    if (value < 0) continue;
    bits = ((bits << 6) | static_cast<unsigned>(value)) & 0xFFFFFFu;
    held += 6;
    if (held >= 8) {
      held -= 8;
      out.push_back(static_cast<char>((bits >> held) & 0xFFu));
    }
  }
}

// A bad "=XY" stays as it stands.
void appendQuoted(const std::string& text, std::size_t begin, std::size_t end, std::string& out) {
  for (std::size_t i = begin; i < end; ++i) {
    const char byte = text[i];
    if (byte == '_') {
      out.push_back(' ');
    } else if (byte == '=' && i + 2 < end && hexDigitValue(text[i + 1]) >= 0 &&
               hexDigitValue(text[i + 2]) >= 0) {
      out.push_back(static_cast<char>(hexDigitValue(text[i + 1]) * 16 + hexDigitValue(text[i + 2])));
      i += 2;
    } else {
      out.push_back(byte);
    }
  }
}

struct Word {
  std::size_t end = 0;  // just after "?="
  char encoding = 0;
  std::size_t charsetBegin = 0;
  std::size_t charsetEnd = 0;
  std::size_t textBegin = 0;
  std::size_t textEnd = 0;
};

// An encoded word starting at `at` (which holds "=?"); false when the bytes
// there are not one, and then *resume receives where the search for the next
// one may go on (npos: no word can complete after this point). The charset
// holds no '?' or blank, the encoded text runs to the first "?=" and holds no
// blank. A failed text search ends at a blank or at the end; a word starting
// before that point has its text after this one's and fails there too, so the
// search skips ahead and the whole decoding stays linear.
bool parseWord(const std::string& text, std::size_t at, Word& word, std::size_t* resume) {
  *resume = at + 1;
  std::size_t i = at + 2;
  const std::size_t size = text.size();
  while (i < size && text[i] != '?' && !isBlank(text[i])) ++i;
  if (i == at + 2 || i + 3 > size || text[i] != '?') return false;
  const char encoding = text[i + 1];
  if (encoding != 'B' && encoding != 'b' && encoding != 'Q' && encoding != 'q') return false;
  if (text[i + 2] != '?') return false;
  word.charsetBegin = at + 2;
  word.charsetEnd = i;
  word.textBegin = i + 3;
  std::size_t j = word.textBegin;
  while (j + 1 < size && !(text[j] == '?' && text[j + 1] == '=')) {
    if (isBlank(text[j])) {
      *resume = j;
      return false;
    }
    ++j;
  }
  if (j + 1 >= size) {
    *resume = std::string::npos;
    return false;
  }
  word.textEnd = j;
  word.end = j + 2;
  word.encoding = encoding;
  return true;
}

bool sameCharset(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if ((a[i] | 0x20) != (b[i] | 0x20)) return false;
  }
  return true;
}

// The text in UTF-8, built beside the decoded bytes. Adjacent words in one
// charset are converted together: a client joins them before it converts,
// and a character split over two words (two-byte Unicode, base64 cut
// anywhere) is whole only then.
class Utf8Reading {
 public:
  Utf8Reading(CharsetConverter& charsets, CharsetConverter::UnmarkedOrder order)
      : charsets_(charsets), order_(order) {}
  void addPlain(const std::string& text, std::size_t begin, std::size_t size) {
    flush();
    out_.append(text, begin, size);
  }
  void addWord(std::string_view charset, const std::string& bytes) {
    if (!sameCharset(charset, charset_)) flush();
    charset_ = charset;
    pending_ += bytes;
  }
  void flush() {
    if (pending_.empty()) return;
    if (charsets_.appendUtf8(charset_, pending_, out_, order_)) {
      converted = true;
    } else {
      out_ += pending_;
    }
    unmarked |= CharsetConverter::needsBothOrders(charset_, pending_);
    pending_.clear();
  }
  std::string& text() { return out_; }
  bool converted = false;  ///< some run was converted
  bool unmarked = false;   ///< some run was Unicode without a byte order mark

 private:
  CharsetConverter& charsets_;
  CharsetConverter::UnmarkedOrder order_;
  std::string out_;
  std::string_view charset_;
  std::string pending_;
};

// Decodes every encoded word of `text`; with `reading`, builds its UTF-8
// reading as well.
std::string decodeWith(const std::string& text, Utf8Reading* reading) {
  std::string out;
  out.reserve(text.size());
  std::size_t i = 0;
  // Where the plain text since the last encoded word started, and whether
  // that word exists (only then is a run of blanks dropped).
  std::size_t plainBegin = 0;
  bool afterWord = false;
  std::string wordBytes;
  while (i < text.size()) {
    const std::size_t at = text.find("=?", i);
    Word word;
    if (at == std::string::npos) break;
    std::size_t resume = 0;
    if (!parseWord(text, at, word, &resume)) {
      if (resume == std::string::npos) break;
      i = resume;
      continue;
    }
    bool onlyBlanks = true;
    for (std::size_t k = plainBegin; k < at && onlyBlanks; ++k) onlyBlanks = isBlank(text[k]);
    if (!(afterWord && onlyBlanks)) {
      out.append(text, plainBegin, at - plainBegin);
      if (reading != nullptr && at > plainBegin) reading->addPlain(text, plainBegin, at - plainBegin);
    }
    wordBytes.clear();
    if (word.encoding == 'B' || word.encoding == 'b') {
      appendBase64(text, word.textBegin, word.textEnd, wordBytes);
    } else {
      appendQuoted(text, word.textBegin, word.textEnd, wordBytes);
    }
    out += wordBytes;
    if (reading != nullptr)
      reading->addWord(std::string_view(text).substr(word.charsetBegin, word.charsetEnd - word.charsetBegin),
                       wordBytes);
    i = plainBegin = word.end;
    afterWord = true;
  }
  out.append(text, plainBegin, std::string::npos);
  if (reading != nullptr) reading->addPlain(text, plainBegin, text.size() - plainBegin);
  return out;
}

}  // namespace

std::string decodeEncodedWords(const std::string& text) {
  if (text.find("=?") == std::string::npos) return text;
  return decodeWith(text, nullptr);
}

std::string decodeEncodedWords(const std::string& text, CharsetConverter& charsets,
                               std::vector<std::string>& utf8Readings) {
  if (text.find("=?") == std::string::npos) return text;
  Utf8Reading bigEndian(charsets, CharsetConverter::UnmarkedOrder::bigEndian);
  std::string decoded = decodeWith(text, &bigEndian);
  if (bigEndian.converted && bigEndian.text() != decoded) utf8Readings.push_back(std::move(bigEndian.text()));
  if (bigEndian.unmarked) {
    Utf8Reading littleEndian(charsets, CharsetConverter::UnmarkedOrder::littleEndian);
    decodeWith(text, &littleEndian);
    if (littleEndian.converted && littleEndian.text() != decoded)
      utf8Readings.push_back(std::move(littleEndian.text()));
  }
  return decoded;
}

}  // namespace zentry
