#pragma once

#include <cstddef>
#include <string>

namespace zentry {

/// Where output bytes go. Implementations write exactly the bytes given; the
/// text-stream rules (LF as CR LF) are applied by Console before they get here.
class TextSink {
 public:
  virtual ~TextSink() = default;
  virtual void write(const char* data, std::size_t size) = 0;
  virtual void flush() {}
};

/// Collects the bytes in memory; for tests and in-process runs.
class StringSink : public TextSink {
 public:
  void write(const char* data, std::size_t size) override { bytes.append(data, size); }
  std::string bytes;
};

}  // namespace zentry
