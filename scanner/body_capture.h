#pragma once

#include <cstddef>
#include <cstdint>

namespace zentry {

/// Decoded bytes of one attachment that strict mode examines at most; past
/// them the attachment is examined as far as it was kept, marked truncated.
constexpr std::size_t maxExaminedBytes = std::size_t{32} << 20;

/// How a body's lines turn into its bytes.
enum class BodyEncoding { Base64, QuotedPrintable, Uuencode, Unencoded };

/// The decoded bytes of one body, gathered line by line as the walker reads
/// it, into one buffer that is reused from body to body and never holds more
/// than maxExaminedBytes. Only a body that may hold an archive is decoded
/// whole: once its first bytes are decoded and show no sign of one
/// (firstLookLeavesOpen, then mayHoldContainer over the first sector),
/// decoding stops and the body counts as truncated,
/// so an ordinary attachment costs strict mode little more than the exact
/// scan. When memory runs out the body keeps what it had and counts as
/// truncated too. Each line costs its own length at most.
class BodyCapture {
 public:
  BodyCapture() = default;
  ~BodyCapture();
  BodyCapture(const BodyCapture&) = delete;
  BodyCapture& operator=(const BodyCapture&) = delete;

  /// Empties the capture for a new body (the buffer stays).
  void start(BodyEncoding encoding);
  /// One line as the reader delivered it: `size` bytes, NULs included, its
  /// final LF included when it ended (a line cut at the reader's limit has
  /// none, and a quoted-printable or unencoded body then goes on without a
  /// line break).
  void addLine(const char* line, std::size_t size) {
    // Inline: most lines of most bodies arrive after decoding stopped.
    if (!truncated_) addDecodedLine(line, size);
  }

  /// False once decoding has stopped: the lines after that add nothing.
  bool wantsLines() const { return !truncated_; }
  const unsigned char* data() const { return bytes_; }
  std::size_t size() const { return size_; }
  bool truncated() const { return truncated_; }
  /// Whether decoding stopped because the first few bytes (firstBytesRuleOut)
  /// can start nothing that examination tells apart: examining the body
  /// would find no kind and no name.
  bool ruledOutEarly() const { return ruledOutEarly_; }

 private:
  /// Room for `count` more bytes, up to the bound; false when none is left.
  void addDecodedLine(const char* line, std::size_t size);
  bool makeRoom(std::size_t count);
  /// Gives the pages up to `needed` bytes, and a stretch past them, their
  /// memory in one call: a large body's buffer otherwise takes a page fault
  /// for every 4 KiB it is written.
  void populateAhead(std::size_t needed);
  /// Once enough bytes are in, whether decoding goes on.
  void decideAfterProbe();
  void put(unsigned char byte);
  void addBase64(const char* line, std::size_t size);
  /// Decodes the first `head` characters of a line while the first look is
  /// still to come, asking firstBytesRuleOut as the bytes arrive: in most
  /// binary data a control byte among the first few rules the body out
  /// before the rest is decoded. True when it did (decoding has stopped).
  bool probeBase64Head(const char* line, std::size_t head);
  bool ruleOutByFirstBytes();
  void markRuledOut();
  void addQuotedPrintable(const char* line, std::size_t size);
  void addUuencoded(const char* line, std::size_t size);

  unsigned char* bytes_ = nullptr;
  std::size_t size_ = 0;
  std::size_t capacity_ = 0;
  std::size_t populated_ = 0;  // the first bytes of the buffer whose pages have their memory
  bool truncated_ = false;
  bool probing_ = true;       // the first bytes have not yet decided
  bool firstLooked_ = false;  // the first look left it open
  bool ruledOutEarly_ = false;
  std::size_t scanned_ = 0;  // first bytes known to hold no control byte, once 3 or more
  BodyEncoding encoding_ = BodyEncoding::Unencoded;
  std::uint32_t bits_ = 0;  // base64 bits not yet written
  unsigned held_ = 0;       // how many of bits_ count
};

}  // namespace zentry
