#pragma once

#include <cstdint>

namespace zentry {

/// The one text type of the filter: a growable, zero-terminated byte string
/// that owns its buffer. No operation fails loudly; at the edges they yield an
/// empty String, a 0 byte or -1, and callers rely on those edges.
///
/// There are two kinds of empty String: one without a buffer and one whose
/// buffer holds the empty text. They differ only in equals, compareNoCase and
/// compareNoCasePrefix, where "no buffer" counts as no text at all.
///
/// Invariants: no buffer exactly when capacity is 0 (length is then 0); with a
/// buffer, length < capacity and buffer[length] == 0. Buffers never shrink.
class String {
 public:
  /// No buffer, cursor all bits set.
  String();
  /// As default, then assign(text); a null text gives no buffer and cursor 0.
  explicit String(const char* text);
  /// A copy with capacity exactly its length + 1 (none when other has none), cursor 0.
  String(const String& other);
  String& operator=(const String& other);
  ~String();

  void assign(const char* text);
  /// Nothing happens (the cursor stays too) when other is this String.
  void assign(const String& other);
  /// As assign, from the first `count` bytes of text (fewer when a 0 byte
  /// comes first), which need no terminator: a value is copied straight out
  /// of a longer text. Keeps the buffer when it is large enough, as assign does.
  void assignPrefix(const char* text, std::uint32_t count);

  /// Both missing: true; one missing: false; else byte-for-byte identity.
  bool equals(const char* text) const;
  bool equals(const String& other) const;
  /// 0 when equal ignoring ASCII letter case; both missing 0, one missing 1.
  int compareNoCase(const char* text) const;
  /// At most `count` bytes with ASCII folding; -1/0/1. count 0 gives 0.
  int compareNoCasePrefix(const char* text, std::uint32_t count) const;

  std::uint32_t length() const { return length_; }
  std::uint32_t capacity() const { return capacity_; }
  std::uint32_t cursor() const { return cursor_; }
  bool hasBuffer() const { return buffer_ != nullptr; }
  /// The buffer, or a shared empty text when there is none; never null.
  /// Inline: the scanner and the matcher call it for every line and name.
  const char* cStr() const { return buffer_ != nullptr ? buffer_ : ""; }
  /// The byte at index, or 0 at or past the end and without a buffer.
  char charAt(std::uint32_t index) const;

  String tail(std::uint32_t start) const;
  String mid(std::uint32_t start, std::uint32_t count) const;
  String left(std::uint32_t count) const;
  String right(std::uint32_t count) const;

  void trimRight();
  void trimLeft();
  void truncate(std::uint32_t position);
  void appendChar(char byte);
  void append(const char* text);
  void append(const String& other);

  /// Index from the start of the text, or -1.
  std::int32_t find(char byte, std::uint32_t start) const;
  std::int32_t findNoCase(const char* text, std::uint32_t start) const;

  /// Grows to exactly n bytes; false (String unchanged) when that fails.
  bool reserve(std::uint32_t n);
  /// Grows to n + 128 when capacity < n.
  void ensureCapacity(std::uint32_t n);

  /// The next token; an empty token (no buffer) means none is left.
  String nextToken(const char* delimiters, bool restart);

  /// 0 when this text matches the wildcard mask, 1 when it does not.
  /// Lives in filter/wildcard.cc.
  int wildcardMismatch(const String& mask) const;
  /// Decodes base64 into output (at most limit bytes, not terminated) and
  /// returns how many bytes it wrote. Lives in scanner/base64.cc.
  int decodeBase64(unsigned char* output, int limit) const;

 private:
  // The text's first `count` bytes become the text; `fits` false when the
  // length has no room below the size limit.
  void copyIn(const char* text, std::uint32_t count, bool fits);

  char* buffer_;
  std::uint32_t capacity_;
  std::uint32_t length_;
  std::uint32_t cursor_;
};

}  // namespace zentry
