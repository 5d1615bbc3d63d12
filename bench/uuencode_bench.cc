// Text bodies through the whole scan, held in memory: an ordinary body, one
// carrying a few uuencoded files, and "begin" lines that never end. All must
// run at about the same bytes per second; the last one once took time
// quadratic in its length.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>

#include "platform/memory_line_source.h"
#include "scanner/message_file.h"

namespace {

using namespace zentry;

constexpr std::size_t bodyBytes = 16u << 20;

std::string proseLine(std::size_t n) {
  return "Line " + std::to_string(n) + " of an ordinary letter, with nothing in it but words.\r\n";
}

// Host prefix, a header block without MIME fields, then the body.
std::string messageOf(const std::string& body) {
  return "XXXX"
         "Subject: bench\r\n\r\n" +
         body;
}

std::string plainBody() {
  std::string body;
  for (std::size_t n = 0; body.size() < bodyBytes; ++n) body += proseLine(n);
  return body;
}

// Four files of 1 MiB of encoded lines each, spread through the prose.
std::string bodyWithFiles() {
  const std::string dataLine = "M" + std::string(60, 'A') + "\r\n";
  std::string body;
  for (std::size_t n = 0; body.size() < bodyBytes; ++n) {
    body += proseLine(n);
    if (n % 40000 != 20000) continue;
    body += "begin 644 file" + std::to_string(n) + ".exe\r\n";
    for (std::size_t size = 0; size < (1u << 20); size += dataLine.size()) body += dataLine;
    body += "`\r\nend\r\n";
  }
  return body;
}

std::string unendedBegins(std::size_t count) {
  std::string body;
  for (std::size_t i = 0; i < count; ++i) body += "begin 644 x\r\n";
  return body;
}

void scanOnce(benchmark::State& state, const std::string& message) {
  MemoryLineSource file(message);
  StringSink output;
  Console console(output);
  for (auto _ : state) {
    AttachmentNames names;
    auto context = std::make_unique<ScanContext>(file, console, names);
    scanMessage(*context, messageStartOffset, wholeFileEndOffset);
    benchmark::DoNotOptimize(names.count());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * message.size()));
}

void plainTextBody(benchmark::State& state) { scanOnce(state, messageOf(plainBody())); }
BENCHMARK(plainTextBody)->Unit(benchmark::kMillisecond);

void bodyWithUuencodedFiles(benchmark::State& state) { scanOnce(state, messageOf(bodyWithFiles())); }
BENCHMARK(bodyWithUuencodedFiles)->Unit(benchmark::kMillisecond);

void beginLinesWithoutEnd(benchmark::State& state) {
  scanOnce(state, messageOf(unendedBegins(static_cast<std::size_t>(state.range(0)))));
  state.SetComplexityN(state.range(0));
}
BENCHMARK(beginLinesWithoutEnd)
    ->Arg(50000)
    ->Arg(100000)
    ->Arg(200000)
    ->Complexity()
    ->Unit(benchmark::kMillisecond);

}  // namespace
