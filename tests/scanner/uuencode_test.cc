// The uuencode block reader over in-memory bodies: the line decoder's
// arithmetic, the state the termination test sees, and a plain reading of the
// block steps that every "begin" line pays for in full, compared with the
// reader that remembers stretches it has already read.
#include "scanner/uuencode.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "platform/memory_line_source.h"
#include "platform/text_sink.h"
#include "support/table.h"

namespace zentry {
namespace {

TEST(DecodeUuLine, SignedBytesGraveAndLeftovers) {
  for (const test::Row& row : test::readTable("uu_lines.txt")) {
    unsigned char output[16];
    std::memset(output, 0xEE, sizeof output);
    EXPECT_EQ(std::stoi(row[1]), decodeUuLine(String(row[0].c_str()), output)) << row.where;
    EXPECT_EQ(row[2], std::string(reinterpret_cast<const char*>(output), row[2].size())) << row.where;
    EXPECT_EQ(0xEE, output[row[2].size()]) << row.where << ": wrote past its groups";
  }
}

using BlockReaderFn = void (*)(ScanContext&, String&, std::uint32_t, std::int32_t&, const String&,
                               const String&);

void takeLine(String& line, const char* text) {
  line.assign(text);
  if (line.length() != 0 && line.charAt(line.length() - 1) == '\n') line.truncate(line.length() - 1);
}

// The block steps as they read, with nothing remembered between "begin" lines.
// A read at the end of the content leaves the line buffer as it was.
bool plainBlockTerminated(ScanContext& c, String& currentLine, std::uint32_t endOffset,
                          const String& delimiter, const String& closeDelimiter) {
  char* buffer = c.lineBuffer;
  const auto nextLine = [&] { return c.file.readLine(buffer, lineLimit) != 0; };
  bool more = nextLine();
  while (more) {
    if (positionOf(c.file) >= endOffset) break;
    takeLine(currentLine, buffer);
    if (delimiter.length() != 0 && (currentLine.equals(delimiter) || currentLine.equals(closeDelimiter)))
      return false;
    if (std::strncmp(buffer, "end", 3) == 0) break;
    String copy(currentLine);
    if (decodeUuLine(copy, reinterpret_cast<unsigned char*>(buffer)) == 0) break;
    more = nextLine();
  }
  if (std::strncmp(buffer, "end", 3) != 0 && (!nextLine() || positionOf(c.file) >= endOffset)) return false;
  takeLine(currentLine, buffer);
  return currentLine.equals("end");
}

void plainBlockReader(ScanContext& c, String& currentLine, std::uint32_t endOffset, std::int32_t& partCounter,
                      const String& delimiter, const String& closeDelimiter) {
  if (!currentLine.left(6).equals("begin ")) return;
  for (std::uint32_t i = 6; i < 9; ++i)
    if (currentLine.charAt(i) < '0' || currentLine.charAt(i) > '7') return;
  String name = currentLine.tail(10);
  const std::uint32_t resumeOffset = positionOf(c.file);
  if (name.length() == 0) {
    ++partCounter;
    std::snprintf(c.lineBuffer, lineLimit, "File%d.DAT", partCounter);
    name.assign(c.lineBuffer);
  }
  std::snprintf(c.lineBuffer, lineLimit, "%.300s", name.cStr());
  name.assign(c.lineBuffer);
  if (plainBlockTerminated(c, currentLine, endOffset, delimiter, closeDelimiter))
    recordAttachmentName(c, name);
  else
    c.file.seek(resumeOffset);
}

struct LeafSettings {
  std::uint32_t endOffset;
  const char* delimiter;  // "" for a body without delimiter lines
};

struct WalkTrace {
  std::vector<std::string> names;
  std::int32_t partCounter = 0;
  std::vector<std::uint32_t> positions;  // after each hand-off, then where the walk ended
};

// The leaf walk's hand-off, alone: every body line that is not a delimiter
// line goes to the block reader, and the walk goes on from wherever the
// position stands. Walks run one after the other over one context, from 0.
WalkTrace walk(MemoryLineSource& source, const std::vector<LeafSettings>& leaves, BlockReaderFn reader) {
  StringSink sink;
  Console console(sink);
  AttachmentNames names;
  ScanContext context(source, console, names);
  WalkTrace trace;
  String currentLine;
  for (const LeafSettings& leaf : leaves) {
    source.seek(0);
    const String delimiter(leaf.delimiter);
    const String closeDelimiter(leaf.delimiter[0] != '\0' ? (std::string(leaf.delimiter) + "--").c_str()
                                                          : "");
    while (source.readLine(context.lineBuffer, lineLimit) != 0 && positionOf(source) < leaf.endOffset) {
      takeLine(currentLine, context.lineBuffer);
      if (delimiter.length() != 0 && (currentLine.equals(delimiter) || currentLine.equals(closeDelimiter)))
        break;
      reader(context, currentLine, leaf.endOffset, trace.partCounter, delimiter, closeDelimiter);
      trace.positions.push_back(positionOf(source));
    }
    trace.positions.push_back(positionOf(source));
  }
  for (const String& name : names) trace.names.emplace_back(name.cStr());
  return trace;
}

constexpr std::uint32_t noLimit = 0xFFFFFFFEu;

TEST(ScanUuencodeBlock, Endings) {
  for (const test::Row& row : test::readTable("uu_block_endings.txt")) {
    const std::uint32_t endOffset = row[2] == "-" ? noLimit : static_cast<std::uint32_t>(std::stoul(row[2]));
    MemoryLineSource source(row[0]);
    const WalkTrace trace = walk(source, {{endOffset, row[3].c_str()}}, scanUuencodeBlock);
    std::string names;
    for (const std::string& name : trace.names) names += (names.empty() ? "" : "|") + name;
    EXPECT_EQ(row[1], names) << row.where;
  }
}

// Lines a generated body is made of: every way a block can stop, and lines
// that open blocks of their own.
const char* const pieces[] = {
    "begin 644 a", "begin 644", "begin 600 end", "begin 644 b", "M!!!!", "M96YD````", "`",     " ",
    "end",         "end ",      "endless",       "END",         "",      "--A",       "--A--", "--B",
};

std::string generatedBody(std::mt19937& random) {
  std::string body;
  const std::size_t lines = random() % 12;
  for (std::size_t i = 0; i < lines; ++i) {
    body += pieces[random() % (sizeof pieces / sizeof pieces[0])];
    if (i + 1 < lines || random() % 2 == 0) body += random() % 4 == 0 ? "\r\n" : "\n";
  }
  return body;
}

LeafSettings generatedLeaf(std::mt19937& random, const std::string& body) {
  const std::uint32_t limit =
      random() % 3 == 0 ? static_cast<std::uint32_t>(random() % (body.size() + 2)) : noLimit;
  return {limit, random() % 2 == 0 ? "--A" : ""};
}

TEST(ScanUuencodeBlock, SameResultsAsThePlainSteps) {
  std::mt19937 random(20240611);
  for (int round = 0; round < 20000; ++round) {
    const std::string body = generatedBody(random);
    // The second walk reads the same lines again under other settings, as an
    // embedded message does: nothing learnt under the first may carry over.
    const std::vector<LeafSettings> leaves = {generatedLeaf(random, body), generatedLeaf(random, body)};
    MemoryLineSource plainSource(body), source(body);
    const WalkTrace expected = walk(plainSource, leaves, plainBlockReader);
    const WalkTrace got = walk(source, leaves, scanUuencodeBlock);
    ASSERT_EQ(expected.names, got.names) << body;
    ASSERT_EQ(expected.partCounter, got.partCounter) << body;
    ASSERT_EQ(expected.positions, got.positions) << body;
  }
}

class CountingLineSource : public MemoryLineSource {
 public:
  using MemoryLineSource::MemoryLineSource;
  std::size_t readLine(char* buffer, std::size_t limit) override {
    ++reads;
    return MemoryLineSource::readLine(buffer, limit);
  }
  std::size_t reads = 0;
};

TEST(ScanUuencodeBlock, ReadsEachLineAFewTimesOnly) {
  const std::string unterminated = "begin 644 x\n";
  const std::string withData = "begin 644 x\nM!!!!\n";
  for (const std::string& line : {unterminated, withData}) {
    std::string body;
    for (int i = 0; i < 2000; ++i) body += line;
    CountingLineSource source(body);
    const WalkTrace trace = walk(source, {{noLimit, ""}}, scanUuencodeBlock);
    const std::size_t lines = trace.positions.size() - 1;
    ASSERT_EQ(2000u * static_cast<std::size_t>(std::count(line.begin(), line.end(), '\n')), lines);
    EXPECT_LT(source.reads, 4 * lines) << line;
    EXPECT_TRUE(trace.names.empty());
  }
}

}  // namespace
}  // namespace zentry
