#include "platform/file_line_source.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "platform/memory_line_source.h"
#include "support/e2e.h"
#include "support/plain_line_reader.h"
#include "support/table.h"

namespace zentry {
namespace {

// The reader's block size: content placed around it makes a CR, an LF or a
// 0x1A fall exactly on a refill.
constexpr std::size_t block = 256 * 1024;

// Every line with the position after it, "line@pos" joined by "|": all of
// them, or with `marks` those readMarkedLine delivers (a line at or past
// endOffset is delivered whatever its first byte). The readLine that finds
// the end must leave the buffer as the last line left it.
std::string readAll(LineSource& source, std::size_t limit, const char* marks = nullptr,
                    std::uint32_t endOffset = 0) {
  std::string out;
  std::vector<char> buffer(limit, '#');
  for (;;) {
    const std::vector<char> before = buffer;
    const std::size_t n = marks == nullptr ? source.readLine(buffer.data(), limit)
                                           : source.readMarkedLine(buffer.data(), limit, marks, endOffset);
    if (n == 0) {
      EXPECT_TRUE(marks != nullptr || before == buffer) << "the end changed the buffer";
      return out;
    }
    EXPECT_EQ('\0', buffer[n]);
    std::uint32_t position = 0;
    out +=
        std::string(buffer.data(), n) + "@" + (source.tell(&position) ? std::to_string(position) : "-") + "|";
  }
}

// The file reader reads in blocks and passes over unmarked lines in them; the
// memory reader reads line by line. Both must deliver the same lines at the
// same places. Seeking back is checked by the line source fuzz target.
TEST(FileLineSource, ReadsLikeTheMemoryReader) {
  test::TempDir dir;
  const char* markSets[] = {nullptr, "", "p", "a", "c", "x", "-", "ae\x1a", "-b"};
  const std::uint32_t endOffsets[] = {0xFFFFFFFEu, 7, static_cast<std::uint32_t>(block + 3)};
  for (const test::Row& row : test::readTable("file_reads.txt")) {
    dir.write("f", row[0]);
    const std::size_t limit = std::stoul(row[1]);
    for (const char* marks : markSets) {
      for (const std::uint32_t endOffset : endOffsets) {
        auto file = FileLineSource::open((dir.path() + "/f").c_str());
        ASSERT_NE(nullptr, file);
        MemoryLineSource memory(row[0]);
        ASSERT_TRUE(memory.seek(0) && file->seek(0)) << "seeking to the start";
        EXPECT_EQ(readAll(memory, limit, marks, endOffset), readAll(*file, limit, marks, endOffset))
            << row.where << " marks " << (marks ? marks : "(none)") << " end " << endOffset;
      }
    }
  }
}

// Files around the scanner's cut of long lines (reads of 9,999 characters):
// lines a little shorter and longer than one, two and three reads, each
// ended by nothing, LF, CR LF or a lone CR and followed by a delimiter-like
// line, a NUL, a 0x1A or a mark inside a line; some placed so the long line
// straddles the block's edge.
std::vector<std::string> filesAroundTheCut() {
  const std::size_t lengths[] = {9998, 9999, 10000, 10001, 19998, 19999, 20000, 20001, 29997, 29998};
  const char* endings[] = {"", "\n", "\r\n", "\r"};
  const std::string followers[] = {"--B\n", "-\r\n", std::string("\0--B\n", 5), "\x1a--B\n", "x-\n"};
  std::string pad(block - 5000, 'p');
  for (std::size_t i = 99; i < pad.size(); i += 100) pad[i] = '\n';
  pad += '\n';
  std::vector<std::string> files;
  for (const std::size_t length : lengths) {
    const bool straddles = length == 9999 || length == 20000;
    for (const char* ending : endings) {
      for (const std::string& follower : followers) {
        const std::string line = std::string(length, 'x') + ending + follower + "z\n";
        files.push_back("a\n" + line);
        if (straddles) files.push_back(pad + line);
      }
    }
  }
  return files;
}

// The block reader and its pass over unmarked lines against the plain
// reader: the same lines at the same positions, with the scanner's limit.
TEST(FileLineSource, ReadsLikeThePlainReaderAroundTheCut) {
  test::TempDir dir;
  const char* markSets[] = {nullptr, "-", "x", ""};
  for (const std::string& bytes : filesAroundTheCut()) {
    dir.write("f", bytes);
    const auto cut = static_cast<std::uint32_t>(bytes.find('x') + 9999);
    for (const char* marks : markSets) {
      for (const std::uint32_t endOffset : {0xFFFFFFFEu, cut, cut + 2}) {
        auto file = FileLineSource::open((dir.path() + "/f").c_str());
        ASSERT_NE(nullptr, file);
        test::PlainLineReader plain(bytes);
        const std::string expected = readAll(plain, 10000, marks, endOffset);
        ASSERT_EQ(expected, readAll(*file, 10000, marks, endOffset))
            << "file of " << bytes.size() << " bytes, marks " << (marks ? marks : "(none)") << " end "
            << endOffset;
      }
    }
  }
}

TEST(FileLineSource, OpenFailsForMissingFilesAndDirectories) {
  test::TempDir dir;
  EXPECT_EQ(nullptr, FileLineSource::open((dir.path() + "/missing").c_str()));
  EXPECT_EQ(nullptr, FileLineSource::open(dir.path().c_str()));
}

// A sparse file reaching past 4 GiB: the position after a line that ends at
// or beyond 0xFFFFFFFF is a failed query, never a small wrapped number.
TEST(FileLineSource, PositionsAtTheFourGigabyteEdge) {
  test::TempDir dir;
  const std::string path = dir.path() + "/big";
  const int descriptor = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  ASSERT_GE(descriptor, 0);
  const std::string text = "a\nbc\nd\nrest\n";
  const off_t start = static_cast<off_t>(0xFFFFFFFFull - 7);
  const bool written =
      ::pwrite(descriptor, text.data(), text.size(), start) == static_cast<ssize_t>(text.size());
  ::close(descriptor);
  if (!written) GTEST_SKIP() << "no sparse file of 4 GiB here";
  auto file = FileLineSource::open(path.c_str());
  ASSERT_NE(nullptr, file);
  ASSERT_TRUE(file->seek(static_cast<std::uint32_t>(start)));
  EXPECT_EQ("a\n@4294967290|bc\n@4294967293|d\n@-|rest\n@-|", readAll(*file, 10000));
}

}  // namespace
}  // namespace zentry
