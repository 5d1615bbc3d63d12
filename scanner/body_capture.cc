#include "scanner/body_capture.h"

#include <algorithm>
#include <cstring>

#include "core/allocator.h"
#include "core/hex_digit.h"
#include "platform/page_population.h"
#include "scanner/container_signatures.h"

namespace zentry {
namespace {

// Each character's six bits already shifted to where they go in a group of
// four, so that a group is four loads and three ORs. A character outside the
// alphabet has the invalid bit, which survives the ORs.
constexpr std::uint32_t invalidBase64 = 1u << 31;
// Built by the compiler, so a run that never decodes pays nothing for it.
struct Base64Table {
  std::uint32_t shifted[4][256] = {};
  constexpr Base64Table() {
    for (auto& position : shifted) {
      for (std::uint32_t& entry : position) entry = invalidBase64;
    }
    const char* alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    for (std::uint32_t i = 0; i < 64; ++i) {
      const auto character = static_cast<unsigned char>(alphabet[i]);
      for (unsigned position = 0; position < 4; ++position)
        shifted[position][character] = i << (18 - 6 * position);
    }
  }
  // One character's six bits, or a value with the invalid bit set.
  constexpr std::uint32_t bits(unsigned char character) const { return shifted[3][character]; }
  // The 24 bits of four characters, or a value with the invalid bit set.
  constexpr std::uint32_t group(const unsigned char* text) const {
    return shifted[0][text[0]] | shifted[1][text[1]] | shifted[2][text[2]] | shifted[3][text[3]];
  }
};
constexpr Base64Table base64Table;

// Bodies this large have their pages given memory ahead of the decoder, a
// stretch at a time: few bodies decode this far, and those that do are
// archives, which go on for megabytes.
constexpr std::size_t populatedFrom = std::size_t{256} << 10;
constexpr std::size_t populatedStretch = std::size_t{2} << 20;

// Writes a group's three bytes.
inline void putGroup(unsigned char* out, std::uint32_t group) {
  out[0] = static_cast<unsigned char>(group >> 16);
  out[1] = static_cast<unsigned char>(group >> 8);
  out[2] = static_cast<unsigned char>(group);
}

}  // namespace

BodyCapture::~BodyCapture() { releaseBytes(bytes_); }

void BodyCapture::start(BodyEncoding encoding) {
  encoding_ = encoding;
  size_ = 0;
  truncated_ = false;
  probing_ = true;
  firstLooked_ = false;
  ruledOutEarly_ = false;
  scanned_ = 0;
  bits_ = 0;
  held_ = 0;
}

bool BodyCapture::makeRoom(std::size_t count) {
  if (truncated_) return false;
  if (maxExaminedBytes - size_ < count) {
    truncated_ = true;
    return false;
  }
  if (size_ + count <= capacity_) {
    if (size_ + count > populated_) populateAhead(size_ + count);
    return true;
  }
  // Grows by half; a large buffer grows by remapping its pages, so the
  // bytes already decoded are neither copied nor touched again.
  std::size_t grown = std::max(size_ + count, capacity_ + capacity_ / 2);
  grown = std::min(std::max(grown, std::size_t{64} * 1024), maxExaminedBytes);
  auto* bigger = static_cast<unsigned char*>(resizeBytes(bytes_, grown));
  if (bigger == nullptr) {
    truncated_ = true;
    return false;
  }
  bytes_ = bigger;
  capacity_ = grown;
  populateAhead(size_ + count);
  return true;
}

void BodyCapture::populateAhead(std::size_t needed) {
  if (needed < populatedFrom) return;
  const std::size_t end = std::min(capacity_, std::max(needed, populated_) + populatedStretch);
  if (end <= populated_) return;
  populateForWriting(bytes_ + populated_, end - populated_);
  populated_ = end;
}

bool BodyCapture::ruleOutByFirstBytes() {
  const bool ruledOut = firstBytesRuleOut(bytes_, size_, scanned_);
  scanned_ = size_;
  if (ruledOut) markRuledOut();
  return ruledOut;
}

void BodyCapture::markRuledOut() {
  firstLooked_ = true;
  probing_ = false;
  truncated_ = true;
  ruledOutEarly_ = true;
}

bool BodyCapture::probeBase64Head(const char* line, std::size_t head) {
  const auto* text = reinterpret_cast<const unsigned char*>(line);
  std::size_t done = 0;
  // Group by group, as addBase64 decodes whole groups. Once the first three
  // bytes are known not to start a signature, any control byte among the
  // first look's bytes rules the body out (firstBytesRuleOut), so only the
  // new bytes of each group need a look.
  bool controlRulesOut = false;
  while (held_ == 0 && done + 4 <= head) {
    const std::uint32_t group = base64Table.group(text + done);
    if ((group & invalidBase64) != 0) break;
    unsigned char* fresh = bytes_ + size_;
    putGroup(fresh, group);
    size_ += 3;
    done += 4;
    if (controlRulesOut && size_ <= firstLookBytes) {
      if (isControlByte(fresh[0]) || isControlByte(fresh[1]) || isControlByte(fresh[2])) {
        markRuledOut();
        return true;
      }
      scanned_ = size_;
      continue;
    }
    if (ruleOutByFirstBytes()) return true;
    // A body that may begin a signature waits for the first look.
    if (!firstBytesMayRuleOut(bytes_)) break;
    controlRulesOut = true;
  }
  addBase64(line + done, head - done);
  return size_ >= 3 && ruleOutByFirstBytes();
}

void BodyCapture::put(unsigned char byte) { bytes_[size_++] = byte; }

void BodyCapture::addDecodedLine(const char* line, std::size_t size) {
  // No line decodes to more than its length plus a CR LF.
  if (size == 0 || !makeRoom(size + 2)) return;
  switch (encoding_) {
    case BodyEncoding::Base64:
      if (probing_ && !firstLooked_) {
        // Only as many characters as the first look needs, when they are
        // valid: most bodies stop right after it.
        const std::size_t head = std::min(size, (firstLookBytes - size_ + 2) / 3 * 4);
        if (probeBase64Head(line, head)) return;
        if (size_ >= firstLookBytes) {
          decideAfterProbe();
          if (truncated_) return;
        }
        addBase64(line + head, size - head);
      } else {
        addBase64(line, size);
      }
      break;
    case BodyEncoding::QuotedPrintable:
      addQuotedPrintable(line, size);
      break;
    case BodyEncoding::Uuencode:
      addUuencoded(line, size);
      break;
    case BodyEncoding::Unencoded:
      std::memcpy(bytes_ + size_, line, size);
      size_ += size;
      break;
  }
  if (probing_ && size_ >= firstLookBytes) decideAfterProbe();
}

void BodyCapture::decideAfterProbe() {
  if (!firstLooked_) {
    firstLooked_ = true;
    if (!firstLookLeavesOpen(bytes_, size_)) {
      probing_ = false;
      truncated_ = true;
      return;
    }
  }
  if (size_ < signatureProbeBytes) return;
  probing_ = false;
  if (!mayHoldContainer(bytes_, size_)) truncated_ = true;
}

// Bytes outside the alphabet (line ends, blanks) are skipped: the bits of a
// body run on across its lines. Padding drops the bits of an unfinished
// group, so bodies joined after their padding decode as each one would.
void BodyCapture::addBase64(const char* line, std::size_t size) {
  const auto* text = reinterpret_cast<const unsigned char*>(line);
  std::size_t i = 0;
  // Whole groups of four valid characters, the common case, in one step.
  // The output goes through a local pointer: a store through a byte pointer
  // could change any member, so members would be read again after each one.
  if (held_ == 0) {
    unsigned char* out = bytes_ + size_;
    while (i + 4 <= size) {
      const std::uint32_t group = base64Table.group(text + i);
      if ((group & invalidBase64) != 0) break;
      putGroup(out, group);
      out += 3;
      i += 4;
    }
    size_ = static_cast<std::size_t>(out - bytes_);
  }
  for (; i < size; ++i) {
    const std::uint32_t value = base64Table.bits(text[i]);
    if ((value & invalidBase64) != 0) {
      if (text[i] == '=') held_ = 0;
      continue;
    }
    bits_ = ((bits_ << 6) | value) & 0xFFFFFFu;
    held_ += 6;
    if (held_ >= 8) {
      held_ -= 8;
      put(static_cast<unsigned char>((bits_ >> held_) & 0xFFu));
    }
  }
}

// A hard line break becomes CR LF, a final '=' joins the next line, and a bad
// "=XY" stays as it stands. Blanks before a line break were added in transit.
void BodyCapture::addQuotedPrintable(const char* line, std::size_t size) {
  const bool ended = line[size - 1] == '\n';
  std::size_t end = ended ? size - 1 : size;
  while (end > 0 && (line[end - 1] == ' ' || line[end - 1] == '\t' || line[end - 1] == '\r')) --end;
  const bool soft = end > 0 && line[end - 1] == '=';
  if (soft) --end;
  for (std::size_t i = 0; i < end; ++i) {
    if (line[i] == '=' && i + 2 < end && hexDigitValue(line[i + 1]) >= 0 && hexDigitValue(line[i + 2]) >= 0) {
      put(static_cast<unsigned char>(hexDigitValue(line[i + 1]) * 16 + hexDigitValue(line[i + 2])));
      i += 2;
    } else {
      put(static_cast<unsigned char>(line[i]));
    }
  }
  if (ended && !soft) {
    put('\r');
    put('\n');
  }
}

// The first byte counts the line's bytes; groups of four characters give
// three bytes, and bytes past the count are padding.
void BodyCapture::addUuencoded(const char* line, std::size_t size) {
  const std::size_t count = (static_cast<unsigned char>(line[0]) - 32u) & 63u;
  const std::size_t end = line[size - 1] == '\n' ? size - 1 : size;
  std::size_t written = 0;
  for (std::size_t i = 1; i + 3 < end && written < count; i += 4) {
    unsigned group = 0;
    for (std::size_t k = 0; k < 4; ++k) {
      group = (group << 6) | ((static_cast<unsigned char>(line[i + k]) - 32u) & 63u);
    }
    for (int shift = 16; shift >= 0 && written < count; shift -= 8, ++written) {
      put(static_cast<unsigned char>((group >> shift) & 0xFFu));
    }
  }
}

}  // namespace zentry
