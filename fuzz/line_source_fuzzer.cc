// The text reader of the message file, from a real file. The first input byte
// picks the line limit (and whether the content is pushed to straddle the
// reader's block edge), the rest is the file. The promises: lines are the
// file's text with CR LF read as LF, up to the first 0x1A; positions only grow
// within a pass; the in-memory reader agrees line for line; and seeking to
// any position a pass returned reads the same lines again. Passes that look
// only for lines beginning with a mark (as the MIME walker reads bodies)
// deliver what the plain one-byte-at-a-time reader delivers. A 0xFF byte and
// the byte after it stand for a run of 'x' around one or two line limits, so
// cuts of long lines come within reach of small inputs.
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "platform/file_line_source.h"
#include "platform/memory_line_source.h"
#include "support/plain_line_reader.h"

namespace {

using zentry::fuzz::require;
using zentry::fuzz::visible;

// The reader fills blocks of this size; content placed just before it makes
// CRs, LFs and 0x1A bytes fall on a refill.
constexpr std::size_t readerBlock = 256 * 1024;
constexpr std::size_t limits[] = {2, 3, 4, 7, 16, 100, 1000, 10000};
constexpr std::size_t linesAfterSeek = 64;
constexpr std::size_t mostLongRuns = 8;
const char* const markSets[] = {"-", "x", "a", "", "-b"};

struct Read {
  std::uint32_t start = 0;
  std::string line;
  std::uint32_t end = 0;
};

std::string scratchFile() {
  static const std::string path = [] {
    std::string pattern = (std::filesystem::temp_directory_path() / "zentry-fuzz-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) std::abort();
    static std::string directory = pattern;
    std::atexit([] { std::filesystem::remove_all(directory); });
    return pattern + "/routing.dat";
  }();
  return path;
}

std::uint32_t queryPosition(zentry::LineSource& source) {
  std::uint32_t position = 0;
  require(source.tell(&position), "position query succeeds below 4 GiB");
  return position;
}

std::vector<Read> readPass(zentry::LineSource& source, std::size_t limit, std::size_t most) {
  std::vector<Read> reads;
  std::vector<char> buffer(limit);
  while (reads.size() < most) {
    Read read;
    read.start = queryPosition(source);
    std::fill(buffer.begin(), buffer.end(), '#');
    const std::size_t count = source.readLine(buffer.data(), limit);
    read.end = queryPosition(source);
    if (count == 0) {
      require(read.end == read.start, "the end does not move the position");
      require(std::all_of(buffer.begin(), buffer.end(), [](char byte) { return byte == '#'; }),
              "the end leaves the buffer as it was");
      break;
    }
    require(count < limit && buffer[count] == '\0', "a read is terminated within its limit");
    read.line.assign(buffer.data(), count);
    reads.push_back(read);
  }
  return reads;
}

std::string textModel(const std::string& bytes) {
  std::string text;
  for (std::size_t i = 0; i < bytes.size() && bytes[i] != '\x1a'; ++i) {
    if (bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') continue;
    text.push_back(bytes[i]);
  }
  return text;
}

void checkPass(const std::vector<Read>& reads, const std::string& bytes, std::size_t limit) {
  std::string text;
  std::uint32_t position = 0;
  for (const Read& read : reads) {
    require(read.start == position && read.end > read.start, "positions grow read by read");
    const std::size_t lf = read.line.find('\n');
    require(lf == std::string::npos || lf + 1 == read.line.size(), "an LF only ends a line",
            [&] { return visible(read.line); });
    require(lf != std::string::npos || read.line.size() == limit - 1 || &read == &reads.back(),
            "a line stops short only at an LF, the limit or the end", [&] { return visible(read.line); });
    text += read.line;
    position = read.end;
  }
  require(text == textModel(bytes), "lines are the text of the file", [&] { return visible(text); });
}

// The input's bytes with each 0xFF and its next byte made a run of 'x' of
// about one or two limits (at most mostLongRuns of them).
std::string withLongRuns(const std::uint8_t* data, std::size_t size, std::size_t limit) {
  std::string bytes;
  std::size_t runs = 0;
  for (std::size_t i = 0; i < size; ++i) {
    if (data[i] != 0xff || i + 1 == size || runs == mostLongRuns) {
      bytes.push_back(static_cast<char>(data[i]));
      continue;
    }
    const std::uint8_t shape = data[++i];
    const std::size_t reads = 1 + (shape >> 6) % 2;
    const std::size_t around = reads * (limit - 1) + shape % 8;
    bytes.append(around > 3 ? around - 3 : 1, 'x');
    ++runs;
  }
  return bytes;
}

// Every line readMarkedLine delivers with the position after it, "|" joined.
std::string markedPass(zentry::LineSource& source, std::size_t limit, const char* marks,
                       std::uint32_t endOffset) {
  std::string out;
  std::vector<char> buffer(limit);
  for (std::size_t count = 0; count < 1'000'000; ++count) {
    const std::size_t delivered = source.readMarkedLine(buffer.data(), limit, marks, endOffset);
    if (delivered == 0) return out;
    out.append(buffer.data(), delivered) += "@" + std::to_string(queryPosition(source)) + "|";
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // The interesting bytes are CRs, LFs and 0x1A near edges; 8 KB has plenty.
  if (size < 2 || size > 8 * 1024) return 0;
  // One input in eight: reading the pad costs a thousand times a plain input.
  const bool straddle = (data[0] & 0xe0) == 0xe0;
  // Short limits over a 256 KB pad would only spend time on the pad.
  const std::size_t limit = limits[straddle ? 5 + data[0] % 3 : data[0] % 8];
  std::string bytes;
  if (straddle) {
    bytes.assign(readerBlock - 1 - data[1] % 64, 'x');
    for (std::size_t i = 99; i < bytes.size(); i += 100) bytes[i] = '\n';
  }
  bytes += withLongRuns(data + 2, size - 2, limit);
  {
    std::ofstream file(scratchFile(), std::ios::binary | std::ios::trunc);
    file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  }

  auto fileSource = zentry::FileLineSource::open(scratchFile().c_str());
  require(fileSource != nullptr, "the scratch file opens");
  const std::vector<Read> reads = readPass(*fileSource, limit, bytes.size() + 1);
  checkPass(reads, bytes, limit);
  char probe[4];
  require(fileSource->readLine(probe, sizeof probe) == 0, "the end stays the end");

  zentry::MemoryLineSource memorySource(bytes);
  const std::vector<Read> memoryReads = readPass(memorySource, limit, bytes.size() + 1);
  require(memoryReads.size() == reads.size(), "both readers give as many lines");
  for (std::size_t i = 0; i < reads.size(); ++i) {
    require(memoryReads[i].line == reads[i].line && memoryReads[i].end == reads[i].end,
            "both readers give the same lines",
            [&] { return visible(reads[i].line) + " / " + visible(memoryReads[i].line); });
  }

  // The walker's pass over body lines, with an end somewhere in the file.
  const char* marks = markSets[data[1] % std::size(markSets)];
  for (const std::uint32_t endOffset :
       {zentry::failedPosition, static_cast<std::uint32_t>(bytes.size() * (data[1] >> 3) / 32)}) {
    auto markedSource = zentry::FileLineSource::open(scratchFile().c_str());
    require(markedSource != nullptr, "the scratch file opens");
    zentry::test::PlainLineReader plain(bytes);
    const std::string expected = markedPass(plain, limit, marks, endOffset);
    require(markedPass(*markedSource, limit, marks, endOffset) == expected,
            "passing over unmarked lines delivers what the plain reader delivers",
            [&] { return visible(expected.substr(0, 200)); });
  }

  // Seek back to a spread of returned positions, the last line and the end
  // included, in an order that goes both ways.
  std::vector<std::size_t> picks{reads.size()};
  for (std::size_t k = 0; k < 8 && !reads.empty(); ++k) picks.push_back((reads.size() - 1) * (7 - k) / 7);
  if (reads.size() > 2) picks.push_back(data[1] % reads.size());
  for (const std::size_t pick : picks) {
    const std::uint32_t target = pick < reads.size() ? reads[pick].start
                                 : reads.empty()     ? 0
                                                     : reads.back().end;
    require(fileSource->seek(target), "seeking to a returned position succeeds");
    const std::vector<Read> again = readPass(*fileSource, limit, linesAfterSeek);
    for (std::size_t i = 0; i < again.size(); ++i) {
      require(pick + i < reads.size() && again[i].line == reads[pick + i].line &&
                  again[i].end == reads[pick + i].end,
              "a seek reads the same lines again", [&] { return visible(again[i].line); });
    }
    require(again.size() == std::min(linesAfterSeek, reads.size() - pick),
            "a seek reads as many lines again");
  }
  return 0;
}
