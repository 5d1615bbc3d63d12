// Strict mode's body capture on its own: a base64 body that may hold an
// archive is decoded whole, line by line as the walker hands it over; one
// that its first bytes rule out costs a few groups. The first figure bounds
// how fast strict mode can get a large archive attachment to the lister.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>
#include <vector>

#include "scanner/body_capture.h"

namespace {

using namespace zentry;

// Base64 lines of 76 characters with CR LF, as mail agents write them.
std::vector<std::string> base64Lines(const std::string& bytes) {
  static const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string text;
  for (std::size_t i = 0; i + 3 <= bytes.size(); i += 3) {
    const std::uint32_t group = static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[i])) << 16 |
                                static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[i + 1])) << 8 |
                                static_cast<unsigned char>(bytes[i + 2]);
    for (int shift = 18; shift >= 0; shift -= 6) text += alphabet[(group >> shift) & 63];
  }
  std::vector<std::string> lines;
  for (std::size_t at = 0; at < text.size(); at += 76) lines.push_back(text.substr(at, 76) + "\r\n");
  return lines;
}

std::string pseudoRandomBytes(std::size_t size, const std::string& start) {
  std::string bytes = start;
  std::uint32_t state = 2463534242u;
  while (bytes.size() < size) {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    bytes += static_cast<char>(state & 0xFF);
  }
  return bytes;
}

void feed(benchmark::State& state, const std::vector<std::string>& lines, std::size_t decodedBytes) {
  BodyCapture capture;
  for (auto _ : state) {
    capture.start(BodyEncoding::Base64);
    for (const std::string& line : lines) capture.addLine(line.data(), line.size());
    benchmark::DoNotOptimize(capture.size());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * decodedBytes));
}

// A 10 MB body that begins like a zip: decoded whole.
void archiveBodyDecodedWhole(benchmark::State& state) {
  const std::size_t size = 10u << 20;
  static const std::vector<std::string> lines = base64Lines(pseudoRandomBytes(size, "PK\x03\x04"));
  feed(state, lines, size);
}
BENCHMARK(archiveBodyDecodedWhole)->Unit(benchmark::kMillisecond);

// A 3 KB body of random bytes, as most attachments look: ruled out after a
// few groups of its first line.
void ordinaryBodyRuledOut(benchmark::State& state) {
  static const std::vector<std::string> lines = base64Lines(pseudoRandomBytes(3072, ""));
  feed(state, lines, 3072);
}
BENCHMARK(ordinaryBodyRuledOut);

}  // namespace
