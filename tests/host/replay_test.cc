#include "host/replay.h"

#include <gtest/gtest.h>

#include <string>

#include "support/table.h"

namespace zentry::host {
namespace {

TEST(ReplayRow, DecodedSubject) {
  FilterResult clean;
  clean.status = FilterResult::Status::exited;
  clean.exitCode = 0;
  for (const test::Row& row : test::readTable("../../host/testdata/decoded_subjects.txt")) {
    EXPECT_EQ(std::optional<std::string>(row[1]), rowFor("1", row[0], clean).decodedSubject) << row.where;
  }
  EXPECT_FALSE(rowFor("1", std::nullopt, clean).decodedSubject);
  EXPECT_EQ(998u, rowFor("1", std::string(5000, 'x'), clean).subject->size());
}

}  // namespace
}  // namespace zentry::host
