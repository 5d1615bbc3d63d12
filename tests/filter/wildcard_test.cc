#include "filter/wildcard.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "core/string.h"
#include "support/wildcard_oracle.h"

namespace zentry {
namespace {

int mismatch(const std::string& text, const std::string& mask) {
  return String(text.c_str()).wildcardMismatch(String(mask.c_str()));
}

struct MaskCase {
  const char* text;
  const char* mask;
  int result;
};

// The matcher's documented results, literal rows included: after a star the
// search compares the next mask byte as a plain byte.
const MaskCase documentedCases[] = {
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
    {"abc", "*??", 1},  // literal: the second question mark
    {"abc", "*?*", 0},
    {"abx", "*?*x", 1},  // literal: the star after the pair
    {"abx", "*?x", 0},
    {"abx", "**x", 0},
    {"a*z", "a\\*z", 0},
    {"abz", "a\\*z", 1},
    {"a\\", "a\\", 0},    // a trailing backslash stands for itself
    {"x*y", "*\\*y", 1},  // literal: the backslash right after the star
    {"x.EXE", "*.exe", 0},
    {"x.exe.txt", "*.exe", 1},
    {"a.b.exe", "*.exe", 0},
    {"ab", "a*?b", 1},
    {"axxb", "a*?b", 0},
    {"abc", "abc*", 0},
    {"abc", "abc*?", 1},
};

// Rows that hold exactly because the search byte is taken literally.
const MaskCase literalCases[] = {
    // The search finds the backslash, then the walk reads it as an escape and
    // wants a star there: this mask matches no text at all.
    {"x\\*y", "*\\*y", 1},  {"x\\y", "*\\*y", 1},    {"ab?c", "*??c", 0},  // the text holds the question mark
    {"ab*x", "*?*x", 0},                                                   // the text holds the star
    {"abc", "a\\", 1},      {"\\", "\\", 0},         {"a", "\\", 1},
    {"?", "\\?", 0},        {"a", "\\?", 1},         {"report.doc.exe", "*.doc*.exe", 0},
    {"a.exe ", "*.exe", 1}, {"a.exe", "*.exe ", 1},  // a trailing space in the mask is part of it
    {"abcabd", "*abd", 0},  {"ab", "***b", 0},       {"", "*?*", 1},
    {"aaa", "*a*a*a*a", 1}, {"aaaa", "*a*a*a*a", 0},
};

TEST(WildcardMismatch, DocumentedRows) {
  for (const MaskCase& c : documentedCases)
    EXPECT_EQ(c.result, mismatch(c.text, c.mask)) << "text '" << c.text << "' mask '" << c.mask << "'";
}

TEST(WildcardMismatch, LiteralAndEdgeRows) {
  for (const MaskCase& c : literalCases)
    EXPECT_EQ(c.result, mismatch(c.text, c.mask)) << "text '" << c.text << "' mask '" << c.mask << "'";
}

TEST(WildcardMismatch, OracleAgreesWithDocumentedRows) {
  for (const MaskCase& c : documentedCases)
    EXPECT_EQ(c.result, test::wildcardMismatchOracle(c.text, c.mask)) << c.text << " / " << c.mask;
  for (const MaskCase& c : literalCases)
    EXPECT_EQ(c.result, test::wildcardMismatchOracle(c.text, c.mask)) << c.text << " / " << c.mask;
}

TEST(WildcardMismatch, StringsWithoutBuffer) {
  const String none;
  EXPECT_EQ(0, none.wildcardMismatch(none));
  EXPECT_EQ(0, none.wildcardMismatch(String("*")));
  EXPECT_EQ(1, none.wildcardMismatch(String("?")));
  EXPECT_EQ(1, String("a").wildcardMismatch(none));
}

struct CaseRow {
  unsigned left;
  unsigned right;
  int equal;
};

TEST(CharEqualNoCase, CodePageRows) {
  const CaseRow rows[] = {
      {'a', 'A', 1},   {'z', 'Z', 1},   {'a', 'a', 1},   {'@', '`', 0},   {'[', '{', 0},
      {0x9A, 0x8A, 1}, {0x9C, 0x8C, 1}, {0x9E, 0x8E, 1}, {0xFF, 0x9F, 1}, {0xE0, 0xC0, 1},
      {0xFE, 0xDE, 1}, {0xF7, 0xD7, 0}, {0xDF, 0xFF, 0}, {0xB5, 0x95, 0}, {0x9B, 0x8B, 0},
      {0x9D, 0x8D, 0}, {0xBA, 0x9A, 0}, {0x00, 0x00, 1}, {0xF0, 0xD0, 1}, {0x80, 0x80, 1},
  };
  for (const CaseRow& row : rows) {
    const auto left = static_cast<unsigned char>(row.left);
    const auto right = static_cast<unsigned char>(row.right);
    EXPECT_EQ(row.equal, charEqualNoCase(left, right)) << std::hex << row.left << " " << row.right;
    EXPECT_EQ(row.equal, charEqualNoCase(right, left)) << std::hex << row.right << " " << row.left;
  }
}

TEST(CharEqualNoCase, UpperBytesMapOnlyWhereTheCodePageSays) {
  // Every byte from 128 up has exactly the partners the code page gives it.
  for (unsigned left = 128; left < 256; ++left) {
    int partners = 0;
    for (unsigned right = 0; right < 256; ++right) {
      if (right != left &&
          charEqualNoCase(static_cast<unsigned char>(left), static_cast<unsigned char>(right)))
        ++partners;
    }
    const bool lower =
        left == 0x9A || left == 0x9C || left == 0x9E || left == 0xFF || (left >= 0xE0 && left != 0xF7);
    const bool upper = left == 0x8A || left == 0x8C || left == 0x8E || left == 0x9F ||
                       (left >= 0xC0 && left <= 0xDE && left != 0xD7);
    EXPECT_EQ(lower || upper ? 1 : 0, partners) << std::hex << left;
  }
}

void forEachWord(const std::string& alphabet, std::size_t maxLength, std::vector<std::string>* words) {
  words->push_back("");
  for (std::size_t begin = 0, length = 1; length <= maxLength; ++length) {
    const std::size_t end = words->size();
    for (std::size_t i = begin; i < end; ++i) {
      for (const char c : alphabet) words->push_back((*words)[i] + c);
    }
    begin = end;
  }
}

// Every mask up to five bytes against every text up to four bytes; the texts
// hold the wildcard bytes too, so the literal searches can find them.
TEST(WildcardMismatch, MatchesOracleExhaustively) {
  std::vector<std::string> masks;
  std::vector<std::string> texts;
  forEachWord("aB*?\\", 5, &masks);
  forEachWord("Ab*?\\", 4, &texts);
  std::uint64_t failures = 0;
  for (const std::string& mask : masks) {
    const String maskString(mask.c_str());
    for (const std::string& text : texts) {
      const int expected = test::wildcardMismatchOracle(text, mask);
      if (String(text.c_str()).wildcardMismatch(maskString) != expected && ++failures <= 10)
        ADD_FAILURE() << "text '" << text << "' mask '" << mask << "' expected " << expected;
    }
  }
  EXPECT_EQ(0u, failures);
}

TEST(WildcardMismatch, MatchesOracleOnGeneratedPairs) {
  const std::string alphabet = "aAb*?\\.";
  std::mt19937 random(20240611u);
  std::uniform_int_distribution<std::size_t> pick(0, alphabet.size() - 1);
  std::uniform_int_distribution<std::size_t> maskLength(1, 8);
  std::uniform_int_distribution<std::size_t> textLength(0, 10);
  std::uint64_t failures = 0;
  std::string mask;
  std::string text;
  for (int pair = 0; pair < 1000000; ++pair) {
    mask.clear();
    text.clear();
    for (std::size_t i = maskLength(random); i > 0; --i) mask += alphabet[pick(random)];
    for (std::size_t i = textLength(random); i > 0; --i) text += alphabet[pick(random)];
    const int expected = test::wildcardMismatchOracle(text, mask);
    if (String(text.c_str()).wildcardMismatch(String(mask.c_str())) != expected && ++failures <= 10)
      ADD_FAILURE() << "text '" << text << "' mask '" << mask << "' expected " << expected;
  }
  EXPECT_EQ(0u, failures);
}

struct LongCase {
  std::string text;
  std::string mask;
  int result;
};

// Subjects and names come from the sender: each of these finishes at once,
// where a plain backtracking search would not finish at all.
TEST(WildcardMismatch, HostileInputStaysBounded) {
  const std::string dots(1 << 20, '.');
  const std::string as(100 * 1024, 'a');
  std::string nineteenStars;
  for (int i = 0; i < 19; ++i) nineteenStars += "*a";
  const LongCase rows[] = {
      {dots, "*.exe", 1},
      {dots + "exe", "*.exe", 0},
      {as, nineteenStars + "*b", 1},
      {as, nineteenStars + "*a", 0},
      {as, "*?*?*?*?*?*?*?*?b", 1},
      {as, nineteenStars + "*\\", 1},
      {as, "\\", 1},
      {as, "*", 0},
      {as, std::string(60, '*') + "a", 0},
      {as + "b", std::string(60, '*') + "a", 1},
  };
  for (const LongCase& c : rows) EXPECT_EQ(c.result, mismatch(c.text, c.mask)) << "mask '" << c.mask << "'";
}

// Masks longer than the rule file allows take the matcher's heap path.
TEST(WildcardMismatch, LongMasks) {
  std::string alternating;
  for (int i = 0; i < 2500; ++i) alternating += "*a";
  const LongCase rows[] = {
      {std::string(3000, 'a'), std::string(5000, '*'), 0},
      {std::string(3000, 'a'), std::string(5000, '*') + "a", 0},
      {std::string(3000, 'a'), alternating, 0},
      {std::string(2499, 'a'), alternating, 1},
      {std::string(300, 'a'), std::string(300, '?'), 0},
      {std::string(300, 'a'), std::string(301, '?'), 1},
  };
  for (const LongCase& c : rows)
    EXPECT_EQ(c.result, mismatch(c.text, c.mask)) << c.text.size() << " / " << c.mask.size();
}

}  // namespace
}  // namespace zentry
