#include "scanner/mime_parameters.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "scanner/encoded_text.h"
#include "support/table.h"

namespace zentry {
namespace {

TEST(MimeParameters, ShownNames) {
  for (const test::Row& row : test::readTable("mime_parameters.txt")) {
    ShownNames names;
    CharsetConverter charsets;
    collectShownNames(String(row[0].c_str()), names, &charsets);
    collectFallbackNames(String(row[0].c_str()), names, &charsets);
    EXPECT_EQ(std::vector<std::string>(row.fields.begin() + 1, row.fields.end()), names.inOrder())
        << row.where;
  }
}

// Clients show the first or the last of repeated parameters: both stay
// however many there are.
TEST(MimeParameters, ManyNamesKeepTheFirstAndTheLast) {
  std::string field = "Content-Type: a/b";
  for (int i = 0; i < 250; ++i) field += "; name=n" + std::to_string(i);
  ShownNames names;
  collectShownNames(String(field.c_str()), names);
  ASSERT_EQ(ShownNames::maxNames, names.inOrder().size());
  EXPECT_EQ("n198", names.inOrder()[198]);
  EXPECT_EQ("n249", names.inOrder().back());
}

TEST(EncodedText, Table) {
  for (const test::Row& row : test::readTable("encoded_texts.txt"))
    EXPECT_EQ(row[1], decodeEncodedWords(row[0])) << row.where;
}

}  // namespace
}  // namespace zentry
