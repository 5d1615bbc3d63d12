#include "milter/prometheus_text.h"

#include <charconv>
#include <cmath>

namespace zentry::milter {
namespace {

// The length of the valid UTF-8 sequence at `text[at]`, 0 when none starts
// there (a stray continuation byte, an overlong form, a surrogate, or a
// sequence cut short).
std::size_t utf8SequenceAt(std::string_view text, std::size_t at) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(at);
  std::size_t length = 0;
  unsigned low = 0x80;
  unsigned high = 0xBF;  // the range of the first continuation byte
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (text.size() - at < length) return 0;
  if (byte(at + 1) < low || byte(at + 1) > high) return 0;
  for (std::size_t i = 2; i < length; ++i)
    if (byte(at + i) < 0x80 || byte(at + i) > 0xBF) return 0;
  return length;
}

void appendCodePoint(std::string& out, unsigned point) {
  if (point < 0x80) {
    out += static_cast<char>(point);
  } else if (point < 0x800) {
    out += static_cast<char>(0xC0 | (point >> 6));
    out += static_cast<char>(0x80 | (point & 0x3F));
  } else {
    out += static_cast<char>(0xE0 | (point >> 12));
    out += static_cast<char>(0x80 | ((point >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (point & 0x3F));
  }
}

}  // namespace

std::string labelValueOf(std::string_view raw, std::size_t limit) {
  std::string out;
  std::size_t at = 0;
  while (at < raw.size()) {
    std::string piece;
    const unsigned char lead = static_cast<unsigned char>(raw[at]);
    if (lead < 0x80) {
      appendCodePoint(piece, lead < 0x20 || lead == 0x7F ? 0xFFFD : lead);
      ++at;
    } else if (const std::size_t length = utf8SequenceAt(raw, at); length != 0) {
      piece.assign(raw.substr(at, length));
      at += length;
    } else {
      appendCodePoint(piece, lead < 0xA0 ? 0xFFFD : lead);  // 0x80-0x9F are controls in Latin-1 too
      ++at;
    }
    if (out.size() + piece.size() > limit) break;
    out += piece;
  }
  return out;
}

std::string quotedLabel(std::string_view value) {
  std::string out = "\"";
  for (const char c : value) {
    if (c == '\\' || c == '"') out += '\\';
    if (c == '\n') {
      out += "\\n";
      continue;
    }
    out += c;
  }
  return out + "\"";
}

void appendFamilyHead(std::string& out, const char* name, const char* type, const char* help) {
  out.append("# HELP ").append(name).append(" ").append(help).append("\n");
  out.append("# TYPE ").append(name).append(" ").append(type).append("\n");
}

void appendSample(std::string& out, const std::string& name, const std::string& labels, std::uint64_t value) {
  out.append(name);
  if (!labels.empty()) out.append("{").append(labels).append("}");
  out.append(" ").append(std::to_string(value)).append("\n");
}

void appendSample(std::string& out, const std::string& name, const std::string& labels, double value) {
  out.append(name);
  if (!labels.empty()) out.append("{").append(labels).append("}");
  out.append(" ").append(numberText(value)).append("\n");
}

std::string numberText(double value) {
  if (std::isnan(value)) return "NaN";
  if (std::isinf(value)) return value > 0 ? "+Inf" : "-Inf";
  char text[32];
  const std::to_chars_result result = std::to_chars(text, text + sizeof text, value);
  return std::string(text, result.ptr);
}

}  // namespace zentry::milter
