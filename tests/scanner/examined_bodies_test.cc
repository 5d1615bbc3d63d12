#include "scanner/examined_bodies.h"

#include <gtest/gtest.h>

#include <string>

namespace zentry {
namespace {

std::size_t everyBodyCollides(std::string_view) { return 7; }

const unsigned char* bytesOf(const std::string& text) {
  return reinterpret_cast<const unsigned char*>(text.data());
}

// A body counts as seen only when name, bytes and cut all match one kept:
// bodies whose hashes collide are still examined each.
TEST(ExaminedBodies, OnlyTheSameBodyUnderTheSameNameIsSeenAgain) {
  for (const auto hash : {ExaminedBodies::Hash{nullptr}, ExaminedBodies::Hash{everyBodyCollides}}) {
    ExaminedBodies seen = hash == nullptr ? ExaminedBodies() : ExaminedBodies(hash);
    const std::string zip = "PK\x03\x04 benign";
    const std::string other = "PK\x03\x04 evil.exe";
    EXPECT_TRUE(seen.firstTime("a.zip", bytesOf(zip), zip.size(), false));
    EXPECT_FALSE(seen.firstTime("a.zip", bytesOf(zip), zip.size(), false));
    EXPECT_TRUE(seen.firstTime("a.zip", bytesOf(other), other.size(), false));
    EXPECT_TRUE(seen.firstTime("b.zip", bytesOf(zip), zip.size(), false));
    EXPECT_TRUE(seen.firstTime("a.zip", bytesOf(zip), zip.size(), true));
    EXPECT_TRUE(seen.firstTime("a.zip", bytesOf(zip), zip.size() - 1, false));
    EXPECT_FALSE(seen.firstTime("a.zip", bytesOf(other), other.size(), false));
  }
}

// Past the bounds nothing is kept, so the work is done again, never skipped.
TEST(ExaminedBodies, BodiesPastTheBoundsAreExaminedEveryTime) {
  ExaminedBodies seen;
  const std::string large(ExaminedBodies::maxKeptBodyBytes + 1, 'x');
  EXPECT_TRUE(seen.firstTime("big.zip", bytesOf(large), large.size(), false));
  EXPECT_TRUE(seen.firstTime("big.zip", bytesOf(large), large.size(), false));

  const std::string body(ExaminedBodies::maxKeptBodyBytes - 16, 'y');
  std::size_t kept = 0;
  for (int i = 0; i < 40; ++i) {
    const std::string name = "part" + std::to_string(i) + ".zip";
    EXPECT_TRUE(seen.firstTime(name, bytesOf(body), body.size(), false));
    if (!seen.firstTime(name, bytesOf(body), body.size(), false)) ++kept;
  }
  EXPECT_EQ(kept, ExaminedBodies::maxKeptBytes / ExaminedBodies::maxKeptBodyBytes);
}

}  // namespace
}  // namespace zentry
