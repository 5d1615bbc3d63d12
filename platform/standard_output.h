#pragma once

#include <string>

#include "platform/text_sink.h"

namespace zentry {

/// Standard output, written with plain writes when flushed (the bytes already
/// carry their CR LF line ends).
class StandardOutputSink : public TextSink {
 public:
  ~StandardOutputSink() override { flush(); }
  void write(const char* data, std::size_t size) override {
    pending_.append(data, size);
    if (pending_.size() >= flushThreshold) flush();
  }
  void flush() override;

 private:
  static constexpr std::size_t flushThreshold = 64 * 1024;
  std::string pending_;
};

}  // namespace zentry
