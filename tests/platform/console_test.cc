#include "platform/console.h"

#include <gtest/gtest.h>

#include <string>

namespace zentry {
namespace {

TEST(FormatFields, BehavesLikePrintfForTheUsedConversions) {
  EXPECT_EQ("a-12-4294967294-7%", formatFieldsOf("a-%d-%lu-%u%%", 12, 4294967294ul, 7u));
  EXPECT_EQ("[abc]", formatFieldsOf("[%.3s]", "abcdef"));
  EXPECT_EQ("[ab]", formatFieldsOf("[%.3s]", "ab"));
  EXPECT_EQ("[]", formatFieldsOf("[%.0s]", "ab"));
  EXPECT_EQ("-5", formatFieldsOf("%d", -5));
  EXPECT_EQ(std::string(100, 'x'), formatFieldsOf("%.100s", std::string(150, 'x').c_str()));
}

TEST(FormatFields, LineBreaksInsideFieldsBecomeSpacesAfterTheCut) {
  EXPECT_EQ("a b c\n", formatFieldsOf("%s\n", "a\rb\nc"));
  // The cut comes first, so the width is the same as without the mend.
  EXPECT_EQ("ab \n", formatFieldsOf("%.3s\n", "ab\ncd"));
  EXPECT_EQ("\n\n", formatFieldsOf("\n%s\n", ""));
}

}  // namespace
}  // namespace zentry
