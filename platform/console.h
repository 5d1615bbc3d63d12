#pragma once

#include <cstdarg>
#include <memory>
#include <string>

#include "platform/text_sink.h"

namespace zentry {

/// printf-style formatting of the few conversions the filter prints: "%d",
/// "%u", "%lu", "%s", "%.Ns" and "%%". A CR or LF byte that a string field
/// would print comes out as a space, after the precision cut, so a field can
/// never start a new output line. The format's own LFs are kept.
std::string formatFields(const char* format, std::va_list arguments);
std::string formatFieldsOf(const char* format, ...) __attribute__((format(printf, 1, 2)));

/// `text` with each control byte (below 0x20, and 0x7F) written as \xHH: for
/// names strict mode adds, which may hold any byte, so that none of them can
/// act on the terminal or the log viewer that shows the trace.
std::string withControlsVisible(const char* text);

/// The one writer every output byte passes: standard output and the debug log
/// are text streams, so each LF goes out as CR LF.
class Console {
 public:
  explicit Console(TextSink& standardOutput) : standardOutput_(standardOutput) {}

  /// Standard output only.
  void print(const char* format, ...) __attribute__((format(printf, 2, 3)));
  /// Standard output and the log, and only while the log is open.
  void trace(const char* format, ...) __attribute__((format(printf, 2, 3)));

  bool tracing() const { return log_ != nullptr; }
  void openLog(std::unique_ptr<TextSink> log) { log_ = std::move(log); }
  void closeLog();

 private:
  void emit(TextSink& sink, const std::string& text);

  TextSink& standardOutput_;
  std::unique_ptr<TextSink> log_;
};

}  // namespace zentry
