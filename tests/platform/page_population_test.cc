#include "platform/page_population.h"

#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstring>
#include <vector>

namespace zentry {
namespace {

const std::size_t page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));

// Which of the `pages` pages from `begin` have their memory.
std::vector<bool> resident(void* begin, std::size_t pages) {
  std::vector<unsigned char> flags(pages);
  EXPECT_EQ(0, mincore(begin, pages * page, flags.data()));
  std::vector<bool> out;
  for (const unsigned char flag : flags) out.push_back((flag & 1) != 0);
  return out;
}

class PagePopulation : public ::testing::Test {
 protected:
  void SetUp() override {
    void* mapped = mmap(nullptr, 8 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(MAP_FAILED, mapped);
    block_ = static_cast<unsigned char*>(mapped);
  }
  void TearDown() override { munmap(block_, 8 * page); }
  unsigned char* block_ = nullptr;
};

// Only the whole pages inside the range: a page the range shares with bytes
// outside it is left alone, and so is everything past the range.
TEST_F(PagePopulation, GivesTheWholePagesInsideTheRangeTheirMemory) {
  block_[0] = 'a';  // one page already has its memory, and keeps its bytes
  if (!populateForWriting(block_ + 1, 5 * page - 2)) GTEST_SKIP() << "no such call in this kernel";
  populateForWriting(block_ + 6 * page, page);  // exactly one page
  EXPECT_EQ((std::vector<bool>{true, true, true, true, false, false, true, false}), resident(block_, 8));
  EXPECT_EQ('a', block_[0]);
  EXPECT_EQ(0, block_[page]);
}

TEST_F(PagePopulation, RangesWithoutAWholePageDoNothing) {
  populateForWriting(block_ + 1, page - 1);
  populateForWriting(block_ + 2 * page + 10, 0);
  EXPECT_EQ(std::vector<bool>(8, false), resident(block_, 8));
}

}  // namespace
}  // namespace zentry
