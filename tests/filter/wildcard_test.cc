#include "filter/wildcard.h"

#include <gtest/gtest.h>

#include <random>
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
  const unsigned pairs[][3] = {{'a', 'A', 1},   {'@', '`', 0},   {'[', '{', 0},   {0x9A, 0x8A, 1},
                               {0x9C, 0x8C, 1}, {0x9E, 0x8E, 1}, {0xFF, 0x9F, 1}, {0xE0, 0xC0, 1},
                               {0xFE, 0xDE, 1}, {0xF7, 0xD7, 0}, {0xB5, 0x95, 0}, {0x9B, 0x8B, 0}};
  for (const auto& p : pairs) {
    const auto a = static_cast<unsigned char>(p[0]);
    const auto b = static_cast<unsigned char>(p[1]);
    EXPECT_EQ(static_cast<int>(p[2]), charEqualNoCase(a, b)) << std::hex << p[0];
    EXPECT_EQ(static_cast<int>(p[2]), charEqualNoCase(b, a)) << std::hex << p[0];
  }
}

// Compares the bounded matcher, called directly and through a mask prepared
// once for many texts, with the plain steps; reports a few failures.
class Differential {
 public:
  void check(const std::string& text, const std::string& mask, const PreparedMask& prepared) {
    const int expected = test::wildcardMismatchOracle(text, mask);
    const bool agree =
        mismatch(text, mask) == expected && prepared.mismatch(String(text.c_str())) == expected;
    if (!agree && ++failures_ <= 10)
      ADD_FAILURE() << "text '" << text << "' mask '" << mask << "' expected " << expected;
  }
  int failures() const { return failures_; }

 private:
  int failures_ = 0;
};

std::vector<std::string> allWords(const std::string& alphabet, std::size_t maxLength) {
  std::vector<std::string> words{""};
  for (std::size_t begin = 0, end = 1; maxLength-- > 0; begin = end, end = words.size()) {
    for (std::size_t i = begin; i < end; ++i) {
      for (const char c : alphabet) words.push_back(words[i] + c);
    }
  }
  return words;
}

TEST(WildcardMismatch, AgreesWithPlainStepsExhaustively) {
  Differential differential;
  const std::vector<std::string> texts = allWords("Ab*?\\", 4);
  for (const std::string& mask : allWords("aB*?\\", 5)) {
    const String maskString(mask.c_str());
    const PreparedMask prepared(maskString);
    for (const std::string& text : texts) differential.check(text, mask, prepared);
  }
  EXPECT_EQ(0, differential.failures());
}

TEST(WildcardMismatch, AgreesWithPlainStepsOnGeneratedPairs) {
  const std::string alphabet = "aAb*?\\.";
  std::mt19937 random(20240611u);
  std::uniform_int_distribution<std::size_t> pick(0, alphabet.size() - 1);
  Differential differential;
  for (int pair = 0; pair < 1000000; ++pair) {
    std::string mask(1 + random() % 8, ' ');
    std::string text(random() % 11, ' ');
    for (char& c : mask) c = alphabet[pick(random)];
    for (char& c : text) c = alphabet[pick(random)];
    const String maskString(mask.c_str());
    differential.check(text, mask, PreparedMask(maskString));
  }
  EXPECT_EQ(0, differential.failures());
}

TEST(WildcardMismatch, HostileAndLongInput) {
  for (const test::Row& row : test::readTable("wildcard_hostile.txt"))
    EXPECT_EQ(std::stoi(row[2]), mismatch(row[0], row[1])) << row.where;
}

}  // namespace
}  // namespace zentry
