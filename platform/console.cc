#include "platform/console.h"

#include <cstdio>
#include <cstring>

namespace zentry {
namespace {

void appendField(std::string& out, const char* text, std::size_t precision) {
  if (text == nullptr) text = "(null)";
  const std::size_t size = strnlen(text, precision);
  for (std::size_t i = 0; i < size; ++i) {
    const char byte = text[i];
    out.push_back(byte == '\r' || byte == '\n' ? ' ' : byte);
  }
}

}  // namespace

std::string formatFields(const char* format, std::va_list arguments) {
  std::string out;
  for (const char* p = format; *p != '\0'; ++p) {
    if (*p != '%') {
      out.push_back(*p);
      continue;
    }
    ++p;
    std::size_t precision = static_cast<std::size_t>(-1);
    if (*p == '.') {
      precision = 0;
      for (++p; *p >= '0' && *p <= '9'; ++p) precision = precision * 10 + static_cast<std::size_t>(*p - '0');
    }
    char number[32];
    switch (*p) {
      case 's':
        appendField(out, va_arg(arguments, const char*), precision);
        break;
      case 'd':
        std::snprintf(number, sizeof number, "%d", va_arg(arguments, int));
        out += number;
        break;
      case 'u':
        std::snprintf(number, sizeof number, "%u", va_arg(arguments, unsigned));
        out += number;
        break;
      case 'l':
        if (p[1] == 'u') {
          ++p;
          std::snprintf(number, sizeof number, "%lu", va_arg(arguments, unsigned long));
          out += number;
        }
        break;
      case '%':
        out.push_back('%');
        break;
      default:
        // Not a conversion the filter uses; printed as it stands.
        if (*p == '\0') return out;
        out.push_back('%');
        out.push_back(*p);
        break;
    }
  }
  return out;
}

std::string formatFieldsOf(const char* format, ...) {
  std::va_list arguments;
  va_start(arguments, format);
  std::string text = formatFields(format, arguments);
  va_end(arguments);
  return text;
}

std::string withControlsVisible(const char* text) {
  static const char hexDigits[] = "0123456789ABCDEF";
  std::string out;
  for (const char* p = text; *p != '\0'; ++p) {
    const auto byte = static_cast<unsigned char>(*p);
    if (byte >= 0x20 && byte != 0x7F) {
      out.push_back(*p);
      continue;
    }
    out += "\\x";
    out.push_back(hexDigits[byte >> 4]);
    out.push_back(hexDigits[byte & 0xF]);
  }
  return out;
}

void Console::print(const char* format, ...) {
  std::va_list arguments;
  va_start(arguments, format);
  const std::string text = formatFields(format, arguments);
  va_end(arguments);
  emit(standardOutput_, text);
}

void Console::trace(const char* format, ...) {
  if (!log_) return;
  std::va_list arguments;
  va_start(arguments, format);
  const std::string text = formatFields(format, arguments);
  va_end(arguments);
  emit(standardOutput_, text);
  emit(*log_, text);
}

void Console::closeLog() {
  if (log_) log_->flush();
  log_.reset();
}

void Console::emit(TextSink& sink, const std::string& text) {
  std::size_t start = 0;
  for (std::size_t lf = text.find('\n'); lf != std::string::npos; lf = text.find('\n', start)) {
    sink.write(text.data() + start, lf - start);
    sink.write("\r\n", 2);
    start = lf + 1;
  }
  if (start < text.size()) sink.write(text.data() + start, text.size() - start);
}

}  // namespace zentry
