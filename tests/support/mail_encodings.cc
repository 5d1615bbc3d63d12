#include "support/mail_encodings.h"

#include <algorithm>
#include <cstdint>

namespace zentry::test {

std::string base64Lines(const std::string& bytes) {
  static const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  const auto at = [&](std::size_t i) { return i < bytes.size() ? static_cast<unsigned char>(bytes[i]) : 0u; };
  std::string out;
  for (std::size_t i = 0; i < bytes.size(); i += 3) {
    const unsigned group = at(i) << 16 | at(i + 1) << 8 | at(i + 2);
    out += alphabet[group >> 18 & 63];
    out += alphabet[group >> 12 & 63];
    out += i + 1 < bytes.size() ? alphabet[group >> 6 & 63] : '=';
    out += i + 2 < bytes.size() ? alphabet[group & 63] : '=';
    if (i % 57 == 54) out += '\n';
  }
  return out + '\n';
}

std::string uuencodeLines(const std::string& bytes) {
  const auto at = [&](std::size_t i) { return i < bytes.size() ? static_cast<unsigned char>(bytes[i]) : 0u; };
  std::string out;
  for (std::size_t i = 0; i < bytes.size(); i += 45) {
    const std::size_t count = std::min<std::size_t>(45, bytes.size() - i);
    out += static_cast<char>(32 + count);
    for (std::size_t j = i; j < i + count; j += 3) {
      const unsigned group = at(j) << 16 | at(j + 1) << 8 | at(j + 2);
      for (int shift = 18; shift >= 0; shift -= 6) {
        const unsigned sextet = group >> shift & 63;
        out += static_cast<char>(sextet == 0 ? '`' : 32 + sextet);
      }
    }
    out += '\n';
  }
  return out + "`\nend\n";
}

namespace {

std::uint16_t crc16(const std::string& bytes) {
  std::uint16_t crc = 0;
  for (const char c : bytes + std::string(2, '\0')) {
    for (int bit = 7; bit >= 0; --bit) {
      const bool carry = (crc & 0x8000) != 0;
      crc = static_cast<std::uint16_t>(crc << 1 | ((static_cast<unsigned char>(c) >> bit) & 1));
      if (carry) crc ^= 0x1021;
    }
  }
  return crc;
}

std::string withCrc(const std::string& bytes) {
  const std::uint16_t crc = crc16(bytes);
  return bytes + static_cast<char>(crc >> 8) + static_cast<char>(crc & 0xFF);
}

std::string bigEndian32(std::size_t value) {
  std::string out;
  for (int shift = 24; shift >= 0; shift -= 8) out += static_cast<char>(value >> shift & 0xFF);
  return out;
}

std::string runLengthCoded(const std::string& bytes) {
  const char marker = static_cast<char>(0x90);
  std::string out;
  for (std::size_t i = 0; i < bytes.size();) {
    std::size_t run = 1;
    while (i + run < bytes.size() && bytes[i + run] == bytes[i] && run < 255) ++run;
    out += bytes[i];
    if (bytes[i] == marker) out += '\0';
    if (run >= 3) {
      out += marker;
      out += static_cast<char>(run);
    } else if (run == 2) {
      out += bytes[i];
      if (bytes[i] == marker) out += '\0';
    }
    i += run;
  }
  return out;
}

}  // namespace

std::string binHexLines(const std::string& name, const std::string& data) {
  static const char alphabet[] = "!\"#$%&'()*+,-012345689@ABCDEFGHIJKLMNPQRSTUVXYZ[`abcdefhijklmpqr";
  const std::string header = static_cast<char>(name.size()) + name + '\0' + "TEXTttxt" +
                             std::string(2, '\0') + bigEndian32(data.size()) + bigEndian32(0);
  const std::string stream = runLengthCoded(withCrc(header) + withCrc(data) + withCrc(""));
  const auto at = [&](std::size_t i) {
    return i < stream.size() ? static_cast<unsigned char>(stream[i]) : 0u;
  };
  std::string characters = ":";
  for (std::size_t i = 0; i < stream.size(); i += 3) {
    const unsigned group = at(i) << 16 | at(i + 1) << 8 | at(i + 2);
    const std::size_t count = std::min<std::size_t>(4, (stream.size() - i) * 4 / 3 + 1);
    for (std::size_t j = 0; j < count; ++j) characters += alphabet[group >> (18 - 6 * j) & 63];
  }
  characters += ':';
  std::string out = "(This file must be converted with BinHex 4.0)\n";
  for (std::size_t i = 0; i < characters.size(); i += 64) out += characters.substr(i, 64) + '\n';
  return out;
}

}  // namespace zentry::test
