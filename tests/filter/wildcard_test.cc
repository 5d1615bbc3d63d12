#include "filter/wildcard.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/string.h"
#include "support/table.h"
#include "support/wildcard_oracle.h"

namespace zentry {
namespace {

int mismatch(const std::string& text, const std::string& mask) {
  return String(text.c_str()).wildcardMismatch(String(mask.c_str()));
}

TEST(WildcardMismatch, Rows) {
  for (const test::Row& row : test::readTable("wildcard_masks.txt")) {
    EXPECT_EQ(std::stoi(row[2]), mismatch(row[0], row[1])) << row.where;
    EXPECT_EQ(std::stoi(row[2]), test::wildcardMismatchOracle(row[0], row[1])) << row.where;
    const String mask(row[1].c_str());
    EXPECT_EQ(std::stoi(row[2]), PreparedMask(mask).mismatch(String(row[0].c_str()))) << row.where;
  }
  EXPECT_EQ(0, String().wildcardMismatch(String()));
  EXPECT_EQ(1, String().wildcardMismatch(String("?")));
}

TEST(CharEqualNoCase, CodePage) {
  for (const test::Row& row : test::readTable("case_pairs.txt")) {
    const auto a = static_cast<unsigned char>(std::stoi(row[0], nullptr, 16));
    const auto b = static_cast<unsigned char>(std::stoi(row[1], nullptr, 16));
    EXPECT_EQ(std::stoi(row[2]), charEqualNoCase(a, b)) << row.where;
    EXPECT_EQ(std::stoi(row[2]), charEqualNoCase(b, a)) << row.where;
  }
}

std::vector<std::string> allWords(const std::string& alphabet, std::size_t maxLength) {
  std::vector<std::string> words{""};
  for (std::size_t begin = 0, end = 1; maxLength-- > 0; begin = end, end = words.size()) {
    for (std::size_t i = begin; i < end; ++i) {
      for (const char c : alphabet) words.push_back(words[i] + c);
    }
  }
  return words;
}

// The bounded matcher, called directly and through a mask prepared once for
// many texts, against the plain steps over every short pair; the wildcard
// fuzz target goes on from here with longer ones.
TEST(WildcardMismatch, AgreesWithPlainStepsExhaustively) {
  int failures = 0;
  const std::vector<std::string> texts = allWords("Ab*?\\", 4);
  for (const std::string& mask : allWords("aB*?\\", 5)) {
    const String maskString(mask.c_str());
    const PreparedMask prepared(maskString);
    for (const std::string& text : texts) {
      const int expected = test::wildcardMismatchOracle(text, mask);
      const bool agree =
          mismatch(text, mask) == expected && prepared.mismatch(String(text.c_str())) == expected;
      if (!agree && ++failures <= 10)
        ADD_FAILURE() << "text '" << text << "' mask '" << mask << "' expected " << expected;
    }
  }
  EXPECT_EQ(0, failures);
}

TEST(WildcardMismatch, HostileAndLongInput) {
  for (const test::Row& row : test::readTable("wildcard_hostile.txt"))
    EXPECT_EQ(std::stoi(row[2]), mismatch(row[0], row[1])) << row.where;
}

}  // namespace
}  // namespace zentry
