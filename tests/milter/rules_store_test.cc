#include "milter/rules_store.h"

#include <gtest/gtest.h>

#include "support/e2e.h"

namespace zentry::milter {
namespace {

// A file without a rule would make the filter pass everything: refused at
// start and on every reload, the rules in force staying as they were.
TEST(RulesStore, RuleLessFileRefused) {
  test::TempDir dir;
  const std::string path = dir.path() + "/zentry.dat";
  const std::string good = "Executable\n\n*.exe\n";
  struct Case {
    const char* bytes;
    bool taken;
  };
  const Case cases[] = {
      {"", false},                 // empty
      {"Label\n\n", false},        // a rule cut short
      {"Label\n\n*.exe\n", true},  // one rule
      {"\n\n\n", true},            // one rule, every line empty
      {"A\n\n*.a\nB\n", true},     // a rule, then one cut short
  };
  for (const Case& c : cases) {
    RulesStore store(path);
    dir.write("zentry.dat", good);
    std::string error;
    ASSERT_EQ(RulesStore::Reload::loaded, store.reload(true, &error)) << error;
    dir.write("zentry.dat", c.bytes);
    error.clear();
    EXPECT_EQ(c.taken ? RulesStore::Reload::loaded : RulesStore::Reload::failed, store.reload(true, &error));
    EXPECT_EQ(c.taken ? c.bytes : good, *store.current()) << c.bytes;
    EXPECT_EQ(c.taken, error.find("no rule") == std::string::npos) << error;
    RulesStore fresh(path);
    EXPECT_EQ(c.taken, fresh.reload(true, &error) == RulesStore::Reload::loaded) << c.bytes;
  }
}

}  // namespace
}  // namespace zentry::milter
