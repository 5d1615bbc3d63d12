#include "milter/recipient_forms.h"

#include <gtest/gtest.h>

#include "support/table.h"

namespace zentry::milter {
namespace {

TEST(RecipientForms, Table) {
  for (const test::Row& row : test::readTable("milter_recipient_forms.txt")) {
    const RecipientDeletion deletion = deletionFormsOf(row[0]);
    std::string forms;
    for (const std::string& form : deletion.forms) forms += (forms.empty() ? "" : " | ") + form;
    EXPECT_EQ(row[1], forms) << row.where;
    EXPECT_EQ(row[2] == "certain", deletion.certain) << row.where;
  }
}

}  // namespace
}  // namespace zentry::milter
