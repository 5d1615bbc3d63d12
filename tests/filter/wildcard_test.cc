#include "filter/wildcard.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "core/string.h"
#include "support/wildcard_oracle.h"

namespace zentry {
namespace {

struct MaskCase {
  std::string text;
  std::string mask;
  int result;
};

int mismatch(const std::string& text, const std::string& mask) {
  return String(text.c_str()).wildcardMismatch(String(mask.c_str()));
}

// After a star the search takes the next mask byte literally, then the walk
// reads it by the mask syntax again: the rows marked "literal" rely on that.
const MaskCase maskCases[] = {
    {"", "", 0},
    {"a", "", 1},
    {"", "*", 0},
    {"", "**", 0},
    {"", "?", 1},
    {"", "*?", 1},
    {"a", "*?", 0},
    {"abc", "ABC", 0},
    {"abc", "??", 1},
    {"abc", "???", 0},
    {"abc", "????", 1},
    {"abc", "*?", 0},
    {"abc", "*??", 1},  // literal
    {"abc", "*?*", 0},
    {"abx", "*?*x", 1},  // literal
    {"abx", "*?x", 0},
    {"abx", "**x", 0},
    {"a*z", "a\\*z", 0},
    {"abz", "a\\*z", 1},
    {"a\\", "a\\", 0},
    {"x*y", "*\\*y", 1},  // literal
    {"x.EXE", "*.exe", 0},
    {"x.exe.txt", "*.exe", 1},
    {"a.b.exe", "*.exe", 0},
    {"ab", "a*?b", 1},
    {"axxb", "a*?b", 0},
    {"abc", "abc*", 0},
    {"abc", "abc*?", 1},
    // The searched byte is found, then read as an escape that wants a star.
    {"x\\*y", "*\\*y", 1},
    {"ab?c", "*??c", 0},
    {"ab*x", "*?*x", 0},
    {"\\", "\\", 0},
    {"a", "\\", 1},
    {"a.exe", "*.exe ", 1},
    {"\xE9T\xC9.EXE", "\xC9t\xE9*.exe", 0},
    {"\xF7", "\xD7", 1},
};

TEST(WildcardMismatch, Rows) {
  for (const MaskCase& c : maskCases) {
    EXPECT_EQ(c.result, mismatch(c.text, c.mask)) << c.text << " / " << c.mask;
    EXPECT_EQ(c.result, test::wildcardMismatchOracle(c.text, c.mask)) << c.text << " / " << c.mask;
    const String mask(c.mask.c_str());
    EXPECT_EQ(c.result, PreparedMask(mask).mismatch(String(c.text.c_str()))) << c.text << " / " << c.mask;
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

// Senders choose subjects and names: each row finishes in milliseconds where
// plain backtracking would not finish. Masks over 256 bytes take the heap.
TEST(WildcardMismatch, HostileAndLongInput) {
  const std::string as(100 * 1024, 'a');
  std::string stars;
  for (int i = 0; i < 19; ++i) stars += "*a";
  std::string longStars;
  for (int i = 0; i < 2500; ++i) longStars += "*a";
  const MaskCase rows[] = {
      {std::string(1 << 20, '.'), "*.exe", 1},
      {std::string(1 << 20, '.') + "exe", "*.exe", 0},
      {as, stars + "*b", 1},
      {as, stars + "*a", 0},
      {as, "*?*?*?*?*?*?*?*?b", 1},
      {as, stars + "*\\", 1},
      {as, "\\", 1},
      {as, std::string(60, '*') + "a", 0},
      {as + "b", std::string(60, '*') + "a", 1},
      {std::string(3000, 'a'), std::string(5000, '*') + "a", 0},
      {std::string(3000, 'a'), longStars, 0},
      {std::string(2499, 'a'), longStars, 1},
      {std::string(300, 'a'), std::string(301, '?'), 1},
  };
  for (const MaskCase& c : rows) EXPECT_EQ(c.result, mismatch(c.text, c.mask)) << c.mask.substr(0, 40);
}

}  // namespace
}  // namespace zentry
