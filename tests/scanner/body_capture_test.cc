#include "scanner/body_capture.h"

#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/page_population.h"
#include "support/table.h"

namespace zentry {
namespace {

BodyEncoding encodingNamed(const std::string& name) {
  if (name == "base64") return BodyEncoding::Base64;
  if (name == "qp") return BodyEncoding::QuotedPrintable;
  return name == "uu" ? BodyEncoding::Uuencode : BodyEncoding::Unencoded;
}

TEST(BodyCapture, Table) {
  BodyCapture capture;
  for (const test::Row& row : test::readTable("body_captures.txt")) {
    capture.start(encodingNamed(row[0]));
    for (std::size_t i = 3; i < row.fields.size(); ++i) capture.addLine(row[i].data(), row[i].size());
    EXPECT_EQ(row[1], std::string(reinterpret_cast<const char*>(capture.data()), capture.size()))
        << row.where;
    EXPECT_EQ(row[2] == "1", capture.truncated()) << row.where;
  }
}

// Past the bound the body is kept as far as it fits and marked truncated.
TEST(BodyCapture, StopsAtTheBound) {
  BodyCapture capture;
  capture.start(BodyEncoding::Unencoded);
  const std::string line = "PK\x03\x04" + std::string(9995, 'z');
  const std::size_t lines = maxExaminedBytes / line.size() + 2;
  for (std::size_t i = 0; i < lines; ++i) capture.addLine(line.data(), line.size());
  EXPECT_TRUE(capture.truncated());
  EXPECT_LE(capture.size(), maxExaminedBytes);
  EXPECT_GT(capture.size(), maxExaminedBytes - 2 * line.size());
}

bool systemPopulatesPages() {
  const auto page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
  void* one = mmap(nullptr, page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  const bool works = one != MAP_FAILED && populateForWriting(one, page);
  if (one != MAP_FAILED) munmap(one, page);
  return works;
}

// A large body's buffer has its pages ahead of the decoder given memory
// before the decoder writes them (one call, not a page fault a page); the
// bytes decoded are the same.
TEST(BodyCapture, PagesAheadOfALargeBodyHaveTheirMemory) {
  if (!systemPopulatesPages()) GTEST_SKIP() << "no such call in this kernel";
  BodyCapture capture;
  capture.start(BodyEncoding::Unencoded);
  const std::string line = "PK\x03\x04" + std::string(4092, 'z');
  for (int i = 0; i < 150; ++i) capture.addLine(line.data(), line.size());
  ASSERT_FALSE(capture.truncated());
  ASSERT_EQ(150 * line.size(), capture.size());
  EXPECT_EQ(std::string(4092, 'z'), std::string(reinterpret_cast<const char*>(capture.data()) + 4, 4092));

  const auto pageSize = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
  // The first whole page after the bytes written, and the one after it.
  const std::size_t misaligned = reinterpret_cast<std::uintptr_t>(capture.data() + capture.size()) % pageSize;
  auto* ahead = const_cast<unsigned char*>(capture.data() + capture.size()) +
                (misaligned == 0 ? 0 : pageSize - misaligned);
  std::vector<unsigned char> flags(2);
  ASSERT_EQ(0, mincore(ahead, 2 * pageSize, flags.data()));
  EXPECT_EQ(1, flags[0] & 1);
  EXPECT_EQ(1, flags[1] & 1);
}

}  // namespace
}  // namespace zentry
