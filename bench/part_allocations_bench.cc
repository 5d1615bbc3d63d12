// Heap allocations per MIME part: the scan of a message of many small named
// parts, shaped like the "5000 parts" workload of bench/compare, counted two
// ways: blocks from the program's allocator (Strings, decoder scratch) and
// every call of the global operator new (list nodes, std::string, the rest).
// The counters are per part; the time is for the whole message.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <new>
#include <string>

#include "core/allocator.h"
#include "platform/console.h"
#include "platform/memory_line_source.h"
#include "scanner/message_file.h"

namespace {

std::uint64_t operatorNewCalls = 0;

}  // namespace

// These replace the library's pair, so malloc and free do match here.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif

void* operator new(std::size_t size) {
  ++operatorNewCalls;
  if (void* block = std::malloc(size == 0 ? 1 : size)) return block;
  throw std::bad_alloc();
}
void operator delete(void* block) noexcept { std::free(block); }
void operator delete(void* block, std::size_t) noexcept { std::free(block); }

namespace {

using namespace zentry;

constexpr int partCount = 5000;

// The header block of every part as a mail client writes it, then two lines
// of base64: the body's length does not change what a part allocates.
std::string manyPartsMessage() {
  const std::string boundary = "----=_Part_many";
  std::string message =
      "XXXXFrom: a@example.org\r\nSubject: parts\r\nMIME-Version: 1.0\r\n"
      "Content-Type: multipart/mixed; boundary=\"" +
      boundary + "\"\r\n\r\n";
  char name[32];
  for (int part = 1; part <= partCount; ++part) {
    std::snprintf(name, sizeof name, "part-%04d.dat", part);
    message += "--" + boundary + "\r\nContent-Type: application/octet-stream; name=\"" + name +
               "\"\r\nContent-Disposition: attachment; filename=\"" + name +
               "\"\r\nContent-Transfer-Encoding: base64\r\n\r\n"
               "TVqQAAMAAAAEAAAA//8AALgAAAAAAAAAQAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA\r\n"
               "TVqQAAMAAAAEAAAA//8AALgAAAAAAAAAQAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA=\r\n";
  }
  return message + "--" + boundary + "--\r\n";
}

void scanManyParts(benchmark::State& state) {
  const std::string message = manyPartsMessage();
  std::uint64_t blocks = 0;
  std::uint64_t news = 0;
  for (auto _ : state) {
    MemoryLineSource file(message);
    StringSink output;
    Console console(output);
    AttachmentNames names;
    const std::uint64_t blocksBefore = allocationCount();
    const std::uint64_t newsBefore = operatorNewCalls;
    {
      auto context = std::make_unique<ScanContext>(file, console, names);
      scanMessage(*context, messageStartOffset, wholeFileEndOffset);
    }
    blocks = allocationCount() - blocksBefore;
    news = operatorNewCalls - newsBefore;
    if (names.count() != partCount) {
      state.SkipWithError(("the scan found " + std::to_string(names.count()) + " names").c_str());
    }
  }
  state.counters["allocator/part"] = static_cast<double>(blocks) / partCount;
  state.counters["new/part"] = static_cast<double>(news) / partCount;
}
BENCHMARK(scanManyParts)->Unit(benchmark::kMillisecond);

}  // namespace
