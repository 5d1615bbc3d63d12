#include "platform/environment.h"

#include <gtest/gtest.h>

namespace zentry {
namespace {

struct LookupCase {
  EnvironmentBlock environment;
  std::optional<std::string> value;
};

TEST(LookupVariableNoCase, ExactNameFirstThenFirstFoldedMatch) {
  const LookupCase cases[] = {
      {{}, std::nullopt},
      {{"PATH=/bin"}, std::nullopt},
      {{"subject=a"}, "a"},
      {{"subject="}, ""},
      {{"SUBJECT=a=b"}, "a=b"},
      {{"SUBJECT=upper", "subject=exact"}, "exact"},
      {{"Subject=first", "SUBJECT=second"}, "first"},
      {{"subjects=x", "subjec=y"}, std::nullopt},
      {{"subject"}, std::nullopt},  // no '=': not a variable
  };
  for (const LookupCase& c : cases) {
    EXPECT_EQ(c.value, lookupVariableNoCase(c.environment, "subject"))
        << (c.environment.empty() ? "" : c.environment[0]);
  }
}

}  // namespace
}  // namespace zentry
