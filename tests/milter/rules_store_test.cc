#include "milter/rules_store.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include "support/e2e.h"

namespace zentry::milter {
namespace {

TEST(RulesStore, ReloadKeepsOldRulesOnFailure) {
  test::TempDir dir;
  const std::string path = dir.path() + "/zentry.dat";
  RulesStore store(path);
  std::string error;
  EXPECT_EQ(RulesStore::Reload::failed, store.reload(false, &error));
  EXPECT_EQ(nullptr, store.current());

  dir.write("zentry.dat", "A\n\n*.exe\n");
  EXPECT_EQ(RulesStore::Reload::loaded, store.reload(false, &error));
  const auto first = store.current();
  EXPECT_EQ("A\n\n*.exe\n", *first);
  EXPECT_EQ(RulesStore::Reload::unchanged, store.reload(false, &error));
  EXPECT_EQ(RulesStore::Reload::loaded, store.reload(true, &error));

  // A change of size is seen without a signal; a scan holding the old bytes keeps them.
  dir.write("zentry.dat", "B\n\n*.scr\n*\n");
  EXPECT_EQ(RulesStore::Reload::loaded, store.reload(false, &error));
  EXPECT_EQ("B\n\n*.scr\n*\n", *store.current());
  EXPECT_EQ("A\n\n*.exe\n", *first);

  unlink(path.c_str());
  error.clear();
  EXPECT_EQ(RulesStore::Reload::failed, store.reload(false, &error));
  EXPECT_NE(std::string::npos, error.find(path));
  EXPECT_EQ("B\n\n*.scr\n*\n", *store.current());
  // Reported once, not on every check.
  EXPECT_EQ(RulesStore::Reload::unchanged, store.reload(false, &error));
}

}  // namespace
}  // namespace zentry::milter
