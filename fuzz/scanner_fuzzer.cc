// The message scanner over memory, with the message placed anywhere in the
// 32-bit position range: the first byte picks how close to 0xFFFFFFFF it
// ends, so position queries start failing inside the message. The promises:
// the scan finishes, its trace is whole lines, and a second scan of the same
// bytes records the same names and writes the same trace.
#include <cstdint>
#include <memory>
#include <string>

#include "fuzz_check.h"
#include "platform/memory_line_source.h"
#include "scanner/message_file.h"
#include "support/output_check.h"

namespace {

using zentry::fuzz::require;
using zentry::fuzz::visible;

struct Scan {
  std::string names;
  std::string trace;
};

Scan scan(const std::string& bytes, std::uint64_t baseOffset) {
  zentry::MemoryLineSource file(bytes, baseOffset);
  zentry::StringSink output;
  zentry::Console console(output);
  console.openLog(std::make_unique<zentry::StringSink>());
  zentry::AttachmentNames names;
  // Holds a 10000-byte line buffer: too large for the stack of a fuzzer.
  auto context = std::make_unique<zentry::ScanContext>(file, console, names);
  // Seeking below the base fails, so the scan starts where the bytes start.
  zentry::scanMessage(*context, static_cast<std::uint32_t>(baseOffset) + zentry::messageStartOffset,
                      zentry::wholeFileEndOffset);
  Scan result;
  for (const zentry::String& name : names) result.names += std::string(name.cStr(), name.length()) + '\n';
  result.trace = output.bytes;
  return result;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1 || size > 64 * 1024) return 0;
  const std::string bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
  // 0: from the start of the file; otherwise the bytes end up to 255 bytes
  // past 0xFFFFFFFF, where every position query fails.
  const std::uint64_t edge = 0xFFFFFFFFu;
  const std::uint64_t baseOffset =
      data[0] == 0 || bytes.size() + 8 > edge ? 0 : edge - bytes.size() + data[0] - 4;
  const Scan first = scan(bytes, baseOffset);
  require(zentry::test::hasCompleteLines(first.trace), "the trace is whole lines",
          [&] { return visible(first.trace); });
  const Scan second = scan(bytes, baseOffset);
  require(second.names == first.names && second.trace == first.trace, "a second scan records the same",
          [&] { return visible(first.names) + "\n--- again\n" + visible(second.names); });
  return 0;
}
