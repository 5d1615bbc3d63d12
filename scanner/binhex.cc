#include "scanner/binhex.h"

#include <array>
#include <cstring>

namespace zentry {
namespace {

const char alphabet[] = "!\"#$%&'()*+,-012345689@ABCDEFGHIJKLMNPQRSTUVXYZ[`abcdefhijklmpqr";
constexpr std::uint8_t runMarker = 0x90;

// Each byte's six-bit value, -1 for bytes outside the alphabet.
std::array<int, 256> makeValues() {
  std::array<int, 256> values{};
  values.fill(-1);
  for (std::size_t i = 0; i + 1 < sizeof alphabet; ++i)
    values[static_cast<unsigned char>(alphabet[i])] = static_cast<int>(i);
  return values;
}

const std::array<int, 256> sixBitValues = makeValues();

bool isLineSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

}  // namespace

bool announcesBinHex(const char* line, std::size_t size) {
  static const char announcement[] = "(This file must be converted with BinHex 4.0)";
  const std::size_t length = sizeof announcement - 1;
  if (size < length || std::memcmp(line, announcement, length) != 0) return false;
  for (std::size_t i = length; i < size; ++i) {
    if (!isLineSpace(line[i])) return false;
  }
  return true;
}

bool BinHexNameReader::takeLine(const char* line, std::size_t size) {
  std::size_t at = 0;
  if (!started_) {
    while (at < size && isLineSpace(line[at])) ++at;
    if (at == size) return true;  // a blank line before the stream
    if (line[at] != ':') return false;
    started_ = true;
    ++at;
  }
  for (; at < size && !finished_; ++at) {
    const char c = line[at];
    if (isLineSpace(c)) continue;
    const int value = sixBitValues[static_cast<unsigned char>(c)];
    if (value < 0) {
      finished_ = true;  // the stream's closing ':' or damage, before the name was whole
      break;
    }
    bits_ = (bits_ << 6) | static_cast<std::uint32_t>(value);
    if (++held_ < 4) continue;
    takeByte(static_cast<std::uint8_t>(bits_ >> 16));
    takeByte(static_cast<std::uint8_t>(bits_ >> 8));
    takeByte(static_cast<std::uint8_t>(bits_));
    bits_ = 0;
    held_ = 0;
  }
  return !finished_;
}

void BinHexNameReader::takeByte(std::uint8_t byte) {
  if (finished_) return;
  if (afterMarker_) {
    afterMarker_ = false;
    if (byte == 0) {
      last_ = runMarker;  // a marker byte of its own
      takeHeaderByte(runMarker);
      return;
    }
    // The byte before repeats to `byte` in all; it was taken once already.
    for (int i = 1; i < byte && !finished_; ++i) takeHeaderByte(last_);
    return;
  }
  if (byte == runMarker) {
    afterMarker_ = true;
    return;
  }
  last_ = byte;
  takeHeaderByte(byte);
}

void BinHexNameReader::takeHeaderByte(std::uint8_t byte) {
  if (nameLength_ < 0) {
    nameLength_ = byte;
    finished_ = nameLength_ == 0;
    return;
  }
  name_ += static_cast<char>(byte);
  if (name_.size() == static_cast<std::size_t>(nameLength_)) {
    complete_ = true;
    finished_ = true;
  }
}

}  // namespace zentry
