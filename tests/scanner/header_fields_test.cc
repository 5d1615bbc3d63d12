#include "scanner/header_fields.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/table.h"

namespace zentry {
namespace {

// What a run of fields leaves behind, in one comparable line:
// type|encoding|name|boundary,boundary,...
std::string interpretAll(const std::vector<std::string>& fields) {
  PartHeader header;
  BoundaryStack boundaries;
  for (const std::string& text : fields) interpretHeaderField(String(text.c_str()), header, boundaries);
  std::string out = std::string(header.contentTypeText()) + "|" + header.transferEncodingText() + "|" +
                    header.partName.cStr() + "|";
  for (const String& boundary : boundaries) out += std::string(boundary.cStr()) + ",";
  return out;
}

TEST(HeaderField, Table) {
  for (const test::Row& row : test::readTable("header_fields.txt"))
    EXPECT_EQ(row.fields.back(), interpretAll({row.fields.begin(), row.fields.end() - 1})) << row.where;
}

// Megabytes of continuation lines: a gatherer that measured or copied the
// whole field per line would take minutes here.
TEST(HeaderField, GatheringStaysLinear) {
  GatheredField field;
  const String first("Content-Type: a/b;");
  const String line("\tx=\"0123456789012345678901234567890123456789\";");
  field.append(first);
  for (int i = 0; i < 200000; ++i) field.append(line);
  field.append(String("\tname=n.exe"));
  String text;
  field.copyTo(text);
  EXPECT_EQ(first.length() + 200000u * line.length() + 11u, text.length());
  EXPECT_EQ("a/b|7bit|n.exe|", interpretAll({text.cStr()}));
  field.clear();
  field.copyTo(text);
  EXPECT_TRUE(text.equals(""));
}

}  // namespace
}  // namespace zentry
