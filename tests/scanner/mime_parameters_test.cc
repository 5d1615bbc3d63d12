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

bool holds(const ShownNames& names, const std::string& name) { return names.contains(name); }

// Each field is built to make a careless reading slow (quadratic in the
// comments, recursive in their depth, a conversion opened per word) or
// large; all of them stay linear and bounded.
TEST(MimeParameters, HostileFieldsStayCheap) {
  std::string comments = "Content-Disposition: attachment";
  for (int i = 0; i < 10000; ++i) comments += " (c; name=y.pdf)";
  comments += "; filename=x.exe";
  std::string nested = "Content-Disposition: attachment; filename=x.exe " + std::string(100000, '(');
  std::string charsets = "Content-Type: a/b; name=\"";
  for (int i = 0; i < 1000; ++i) charsets += "=?cs" + std::to_string(i) + "?q?=E9?=";
  charsets += "=?iso-8859-1?q?.exe?=\"";
  std::string utf7 = "Content-Type: a/b; name=\"=?utf-7?q?+";
  for (int i = 0; i < 100000; ++i) utf7 += "AHgAeAB4";
  utf7 += "-.exe?=\"";
  std::string equals = "Content-Type: a/b filename=x.exe" + std::string(100000, '=');

  CharsetConverter converter;
  ShownNames names;
  collectShownNames(String(comments.c_str()), names, &converter);
  EXPECT_TRUE(holds(names, "x.exe"));
  EXPECT_FALSE(holds(names, "y.pdf"));
  names.clear();
  collectShownNames(String(nested.c_str()), names, &converter);
  EXPECT_TRUE(holds(names, "x.exe"));
  names.clear();
  collectShownNames(String(charsets.c_str()), names, &converter);
  EXPECT_TRUE(holds(names, std::string(1000, '\xE9') + ".exe"));
  names.clear();
  // A run's converter opens no more charsets once the bound is reached.
  CharsetConverter another;
  collectShownNames(String(utf7.c_str()), names, &converter);
  EXPECT_FALSE(holds(names, std::string(300000, 'x') + ".exe"));
  names.clear();
  collectShownNames(String(utf7.c_str()), names, &another);
  EXPECT_TRUE(holds(names, std::string(300000, 'x') + ".exe"));
  names.clear();
  collectShownNames(String(equals.c_str()), names, &converter);
  EXPECT_TRUE(holds(names, "x.exe" + std::string(100000, '=')));
}

TEST(EncodedText, Table) {
  for (const test::Row& row : test::readTable("encoded_texts.txt"))
    EXPECT_EQ(row[1], decodeEncodedWords(row[0])) << row.where;
}

}  // namespace
}  // namespace zentry
