#include "milter/header_values.h"

#include <gtest/gtest.h>

#include "milter/header_census.h"

namespace zentry::milter {
namespace {

// A hundred subject bytes, as the filter prints them, ending in the middle
// of an encoded word or just after one.
TEST(HeaderValues, SubjectCutOnlyBetweenEncodedWords) {
  struct Case {
    const char* verdict;
    std::size_t subjectBytes;
    const char* field;
  };
  const Case cases[] = {
      {"Infected (X) - =?UTF-8?B?SGVsbG8=?= =?UTF-8?B?Ow6", 140, "Infected (X) - =?UTF-8?B?SGVsbG8=?="},
      {"Infected (X) - =?UTF-8?Q?a=20b?=\t=?UTF-8?Q", 140, "Infected (X) - =?UTF-8?Q?a=20b?="},
      {"Infected (X) - =?UTF-8?B?SGVsbG8=?=", 140, "Infected (X) - =?UTF-8?B?SGVsbG8=?="},
      {"Infected (X) - =?UTF-8?B?SGVsbG8=?", 140, "Infected (X) -"},
      {"Infected (X) - plain words, cut", 140, "Infected (X) - plain words, cut"},
      // A subject the filter printed whole is never shortened, "=?" or not.
      {"Infected (X) - what is 2+2=?", 28, "Infected (X) - what is 2+2=?"},
      {"Infected (X) - =?UTF-8?B?Ow6", 100, "Infected (X) - =?UTF-8?B?Ow6"},
      {"Infected (X) - =?UTF-8?B?Ow6", 101, "Infected (X) -"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(c.field, subjectWithoutCutWord(c.verdict, c.subjectBytes)) << c.verdict;
}

// A thousand recipients of 118 bytes would make a field of 120 KB.
TEST(HeaderValues, RecipientsFieldBounded) {
  std::vector<std::string> recipients;
  for (int i = 0; i < 1000; ++i)
    recipients.push_back("<" + std::string(105, 'a') + std::to_string(1000 + i) + "@x.org>");
  const std::string value = recipientsFieldValue(recipients);
  EXPECT_LE(value.size(), originalFieldLimit);
  EXPECT_EQ(0u, value.find(recipients[0] + ",\n\t" + recipients[1] + ",\n\t"));
  const std::size_t kept = static_cast<std::size_t>(std::count(value.begin(), value.end(), '<'));
  EXPECT_GT(kept, 20u);
  EXPECT_NE(std::string::npos,
            value.find("\n\t(" + std::to_string(1000 - kept) + " more, listed in the log)"));
  for (const std::size_t count : {std::size_t{0}, std::size_t{1}, kept}) {
    const std::vector<std::string> few(recipients.begin(), recipients.begin() + static_cast<long>(count));
    EXPECT_EQ(std::string::npos, recipientsFieldValue(few).find("more")) << count;
  }
  // Every line stays far below the 998 bytes a line may hold.
  const std::vector<std::string> huge{std::string(5000, 'h'), "<b@x>"};
  EXPECT_EQ(std::string(512, 'h') + ",\n\t<b@x>", recipientsFieldValue(huge));
}

TEST(HeaderValues, OriginalSubjectCutAtABlank) {
  EXPECT_EQ("short =?UTF-8?B?SGk=?=\n\tfolded", originalSubjectValue("short =?UTF-8?B?SGk=?=\n\tfolded"));
  const std::string word = "=?UTF-8?B?" + std::string(30, 'Q') + "?=";
  std::string subject;
  while (subject.size() < 2 * originalFieldLimit) subject += word + "\n ";
  const std::string kept = originalSubjectValue(subject);
  EXPECT_LE(kept.size(), originalFieldLimit);
  EXPECT_GT(kept.size(), originalFieldLimit - word.size() - 3);
  EXPECT_EQ(0u, subject.find(kept));
  EXPECT_EQ("?=", kept.substr(kept.size() - 2));
  EXPECT_EQ(std::string(originalFieldLimit, 'x'),
            originalSubjectValue(std::string(originalFieldLimit + 9, 'x')));
}

// Own fields are counted per name, letter case aside, and listed last first,
// so removing them in that order never renumbers one still to remove.
TEST(HeaderCensus, OwnFieldsAndSubjects) {
  HeaderCensus census;
  census.add("X-Zentry-Hit", "forged");
  census.add("Subject", "first\n\tfolded");
  census.add("x-zentry-hit", "again");
  census.add("X-Zentry-Original-Recipients", "<ceo@example.org>");
  census.add("X-Zentryx", "not ours");
  census.add("SUBJECT", "second");
  census.add("X-Zentry", "not ours either");
  const std::vector<std::pair<std::string, int>> expected{
      {"X-Zentry-Original-Recipients", 1}, {"x-zentry-hit", 2}, {"X-Zentry-Hit", 1}};
  EXPECT_EQ(expected, census.ownFieldsLastFirst());
  EXPECT_EQ("first\n\tfolded", census.firstSubject().value_or("none"));
  EXPECT_EQ(2, census.subjectCount());
  census.clear();
  EXPECT_TRUE(census.ownFieldsLastFirst().empty() && !census.firstSubject() && census.subjectCount() == 0);
}

}  // namespace
}  // namespace zentry::milter
