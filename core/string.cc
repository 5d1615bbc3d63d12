#include "core/string.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "core/allocator.h"
#include "core/debug_trace.h"
#include "platform/text_compare.h"

namespace zentry {

namespace {

constexpr std::uint32_t noCursor = std::numeric_limits<std::uint32_t>::max();
constexpr std::uint32_t maxSize = std::numeric_limits<std::uint32_t>::max();
constexpr std::int32_t notFound = -1;
// Extra room taken whenever appending outgrows the buffer, so that building
// a text byte by byte costs one allocation per this many bytes.
constexpr std::uint32_t growthSlack = 128;
// From this capacity on, growth is by half the capacity instead: a sender can
// make a name megabytes long, and building it byte by byte in 128-byte steps
// would copy it thousands of times over.
constexpr std::uint32_t geometricGrowthFrom = 64 * 1024;

const char emptyText[] = "";

// Byte count of a text when it fits a 32-bit length that still leaves room
// for the terminator inside a 32-bit capacity; false for anything longer.
bool measureText(const char* text, std::uint32_t* count) {
  const std::size_t bytes = std::strlen(text);
  if (bytes >= maxSize) return false;
  *count = static_cast<std::uint32_t>(bytes);
  return true;
}

bool isBlank(char byte) { return byte == ' ' || byte == '\t' || byte == '\n' || byte == '\r'; }

bool isDelimiter(char byte, const char* delimiters) {
  // The terminator of the set is not a member: an embedded 0 byte is text.
  if (byte == 0 || delimiters == nullptr) return false;
  return std::strchr(delimiters, byte) != nullptr;
}

// Fixed-length comparison with ASCII folding; a text that ends within the
// first `count` bytes differs from one that does not.
int comparePrefixFolded(const char* left, const char* right, std::uint32_t count) {
  const auto* a = reinterpret_cast<const unsigned char*>(left);
  const auto* b = reinterpret_cast<const unsigned char*>(right);
  for (std::uint32_t i = 0; i < count; ++i) {
    const unsigned char x = foldAscii(a[i]);
    const unsigned char y = foldAscii(b[i]);
    if (x != y) return x < y ? -1 : 1;
    if (x == 0) return 0;
  }
  return 0;
}

std::int32_t asPosition(std::uint32_t index) {
  // A text longer than 2 GiB has indexes a signed result cannot carry.
  if (index > static_cast<std::uint32_t>(std::numeric_limits<std::int32_t>::max())) {
    return notFound;
  }
  return static_cast<std::int32_t>(index);
}

}  // namespace

String::String() : buffer_(nullptr), capacity_(0), length_(0), cursor_(noCursor) {}

String::String(const char* text) : String() { assign(text); }

String::String(const String& other) : String() { assign(other.buffer_); }

String& String::operator=(const String& other) {
  if (this != &other) assign(other);
  return *this;
}

String::~String() {
  if (buffer_ != nullptr) releaseBytes(buffer_);
}

void String::assign(const char* text) {
  if (text == nullptr) {
    if (buffer_ != nullptr) buffer_[0] = 0;
    length_ = 0;
    cursor_ = 0;
    return;
  }
  std::uint32_t count = 0;
  const bool fits = measureText(text, &count);
  copyIn(text, count, fits);
}

void String::assignPrefix(const char* text, std::uint32_t count) {
  const void* zero = std::memchr(text, 0, count);
  if (zero != nullptr) count = static_cast<std::uint32_t>(static_cast<const char*>(zero) - text);
  copyIn(text, count, count < maxSize);
}

void String::copyIn(const char* text, std::uint32_t count, bool fits) {
  if (!fits || capacity_ < count + 1) {
    // A text inside our own buffer is shorter than the buffer, so it never
    // takes this branch and releasing first is safe.
    if (buffer_ != nullptr) releaseBytes(buffer_);
    buffer_ = fits ? static_cast<char*>(allocateBytes(std::size_t{count} + 1)) : nullptr;
    if (buffer_ == nullptr) {
      capacity_ = 0;
      length_ = 0;
      cursor_ = 0;
      debugTrace(-1, "Out Of Memory in String Assignment");
      return;
    }
    capacity_ = count + 1;
  }
  // memmove: the text may be a piece of this very buffer.
  std::memmove(buffer_, text, count);
  buffer_[count] = 0;
  length_ = count;
  cursor_ = 0;
}

void String::assign(const String& other) {
  if (&other == this) return;
  assign(other.buffer_);
}

bool String::equals(const char* text) const {
  if (buffer_ == nullptr || text == nullptr) return buffer_ == nullptr && text == nullptr;
  return std::strcmp(buffer_, text) == 0;
}

bool String::equals(const String& other) const { return equals(other.buffer_); }

int String::compareNoCase(const char* text) const {
  if (buffer_ == nullptr || text == nullptr) return buffer_ == nullptr && text == nullptr ? 0 : 1;
  return compareTextNoCase(buffer_, text);
}

int String::compareNoCasePrefix(const char* text, std::uint32_t count) const {
  if (buffer_ == nullptr || text == nullptr) return buffer_ == nullptr && text == nullptr ? 0 : 1;
  return comparePrefixFolded(buffer_, text, count);
}

char String::charAt(std::uint32_t index) const {
  return buffer_ != nullptr && index < length_ ? buffer_[index] : 0;
}

String String::tail(std::uint32_t start) const {
  if (start == 0) return String(*this);
  if (start < length_) return String(buffer_ + start);
  return String(emptyText);
}

String String::mid(std::uint32_t start, std::uint32_t count) const {
  if (count == 0 || start >= length_ || buffer_ == nullptr) return String(emptyText);
  // Callers pass counts that reach past the end (even length - 4 wrapped
  // below zero); the temporary only needs room for what is there.
  const std::uint32_t available = length_ - start;
  const std::uint32_t taken = count < available ? count : available;
  String piece;
  if (!piece.reserve(taken + 1)) return piece;
  std::strncpy(piece.buffer_, buffer_ + start, taken);
  piece.buffer_[taken] = 0;
  piece.length_ = static_cast<std::uint32_t>(std::strlen(piece.buffer_));
  return String(piece);
}

String String::left(std::uint32_t count) const {
  if (count == 0) return String(emptyText);
  if (count >= length_) return String(*this);
  String piece;
  if (!piece.reserve(count + 1)) return piece;
  std::strncpy(piece.buffer_, buffer_, count);
  piece.buffer_[count] = 0;
  piece.length_ = static_cast<std::uint32_t>(std::strlen(piece.buffer_));
  return String(piece);
}

String String::right(std::uint32_t count) const {
  if (count == 0 || buffer_ == nullptr) return String(emptyText);
  if (count >= length_) return String(buffer_);
  String piece(buffer_ + (length_ - count));
  return String(piece);
}

void String::trimRight() {
  if (length_ == 0 || buffer_ == nullptr) return;
  std::uint32_t end = length_;
  while (end > 0 && isBlank(buffer_[end - 1])) --end;
  buffer_[end] = 0;
  length_ = static_cast<std::uint32_t>(std::strlen(buffer_));
}

void String::trimLeft() {
  if (length_ == 0 || buffer_ == nullptr) return;
  std::uint32_t first = 0;
  while (first < length_ && isBlank(buffer_[first])) ++first;
  const std::uint32_t kept = length_ - first;
  std::memmove(buffer_, buffer_ + first, kept);
  buffer_[kept] = 0;
  length_ = static_cast<std::uint32_t>(std::strlen(buffer_));
}

void String::truncate(std::uint32_t position) {
  if (position >= length_ || buffer_ == nullptr) return;
  buffer_[position] = 0;
  length_ = position;
}

void String::appendChar(char byte) {
  // length_ < capacity_ <= 2^32-1, so only length_ = 2^32-2 has no room left.
  if (length_ > maxSize - 2) {
    debugTrace(-1, "Out Of Memory on String Resize");
    return;
  }
  const std::uint32_t need = length_ + 2;
  ensureCapacity(need);
  if (buffer_ == nullptr || capacity_ < need) return;
  buffer_[length_] = byte;
  ++length_;
  buffer_[length_] = 0;
}

void String::append(const char* text) {
  if (text == nullptr) return;
  std::uint32_t count = 0;
  if (!measureText(text, &count) || count > maxSize - 1 - length_) {
    debugTrace(-1, "Out Of Memory on String Resize");
    return;
  }
  // Growing releases the old buffer, so a text taken from it is found again
  // by its offset.
  const bool ownText = buffer_ != nullptr && text >= buffer_ && text < buffer_ + capacity_;
  const std::size_t ownOffset = ownText ? static_cast<std::size_t>(text - buffer_) : 0;
  const std::uint32_t need = length_ + count + 1;
  ensureCapacity(need);
  if (buffer_ == nullptr || capacity_ < need) return;
  if (ownText) text = buffer_ + ownOffset;
  // The text goes after the first 0 byte, which is at or before length_.
  const std::size_t end = std::strlen(buffer_);
  std::memmove(buffer_ + end, text, count);
  buffer_[end + count] = 0;
  length_ = static_cast<std::uint32_t>(std::strlen(buffer_));
}

void String::append(const String& other) { append(other.cStr()); }

std::int32_t String::find(char byte, std::uint32_t start) const {
  if (buffer_ == nullptr || start >= length_) return notFound;
  for (std::uint32_t i = start;; ++i) {
    if (buffer_[i] == byte) return asPosition(i);
    if (buffer_[i] == 0) return notFound;
  }
}

std::int32_t String::findNoCase(const char* text, std::uint32_t start) const {
  if (buffer_ == nullptr || start >= length_ || text == nullptr) return notFound;
  std::uint32_t count = 0;
  if (!measureText(text, &count) || count > length_ || start > length_ - count) return notFound;
  for (std::uint32_t i = start; i <= length_ - count; ++i) {
    if (comparePrefixFolded(buffer_ + i, text, count) == 0) return asPosition(i);
  }
  return notFound;
}

bool String::reserve(std::uint32_t n) {
  if (n <= capacity_) return true;
  char* grown = static_cast<char*>(allocateBytes(n));
  if (grown == nullptr) return false;
  if (buffer_ != nullptr) {
    std::memcpy(grown, buffer_, capacity_);
    releaseBytes(buffer_);
  } else {
    length_ = 0;
  }
  buffer_ = grown;
  buffer_[length_] = 0;
  capacity_ = n;
  return true;
}

void String::ensureCapacity(std::uint32_t n) {
  if (n <= capacity_) return;
  std::uint64_t target = std::uint64_t{n} + growthSlack;
  if (capacity_ >= geometricGrowthFrom) target = std::max(target, std::uint64_t{capacity_} + capacity_ / 2);
  // Saturate: a need near the top still gets at least what it asked.
  if (target > maxSize) target = maxSize;
  if (!reserve(static_cast<std::uint32_t>(target))) debugTrace(-1, "Out Of Memory on String Resize");
}

String String::nextToken(const char* delimiters, bool restart) {
  if (buffer_ == nullptr) return String(emptyText);
  if (restart) cursor_ = 0;
  while (cursor_ < length_ && isDelimiter(buffer_[cursor_], delimiters)) ++cursor_;
  String token;
  while (cursor_ < length_ && !isDelimiter(buffer_[cursor_], delimiters)) {
    token.appendChar(buffer_[cursor_]);
    ++cursor_;
  }
  while (cursor_ < length_ && isDelimiter(buffer_[cursor_], delimiters)) ++cursor_;
  return token;
}

}  // namespace zentry
