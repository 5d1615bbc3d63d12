#include "milter/mailbox_check.h"

#include <gtest/gtest.h>

#include "support/table.h"

namespace zentry::milter {
namespace {

TEST(MailboxCheck, Table) {
  const std::string aliases =
      "# /etc/aliases\n"
      "postmaster:    root\n"
      "Abuse: root,\n"
      "  continued\n"
      "\"quoted\" : root\n"
      "#commented: root\n";
  const auto userExists = [](const std::string& name) { return name == "root" || name == "zentry"; };
  for (const test::Row& row : test::readTable("milter_mailbox_check.txt")) {
    const std::string warning = unknownMailboxWarning(row[0], aliases, userExists);
    EXPECT_EQ(row[1] == "warn", !warning.empty()) << row.where << ": " << warning;
    EXPECT_EQ(warning.empty(), warning.find(row[0]) == std::string::npos) << row.where;
  }
}

}  // namespace
}  // namespace zentry::milter
