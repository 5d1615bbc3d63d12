#pragma once

#include <string>

#include "platform/text_sink.h"

namespace zentry {

/// Standard output, written with plain writes when flushed (the bytes already
/// carry their CR LF line ends).
class StandardOutputSink : public TextSink {
 public:
  ~StandardOutputSink() override { flush(); }
  void write(const char* data, std::size_t size) override { pending_.append(data, size); }
  void flush() override;

 private:
  std::string pending_;
};

}  // namespace zentry
