#include "scanner/header_fields.h"

#include <gtest/gtest.h>

#include <string>

#include "support/table.h"

namespace zentry {
namespace {

// What a run of fields leaves behind, in one comparable line:
// type|encoding|name|boundary,boundary,...
std::string interpretAll(std::initializer_list<const char*> fields) {
  PartHeader header;
  BoundaryStack boundaries;
  for (const char* text : fields) interpretHeaderField(String(text), header, boundaries);
  std::string out = std::string(header.contentTypeText()) + "|" + header.transferEncodingText() + "|" +
                    header.partName.cStr() + "|";
  for (const String& boundary : boundaries) out += std::string(boundary.cStr()) + ",";
  return out;
}

TEST(HeaderField, SingleFields) {
  for (const test::Row& row : test::readTable("header_fields.txt"))
    EXPECT_EQ(row[1], interpretAll({row[0].c_str()})) << row.where;
}

TEST(HeaderField, FilenameWinsOverNameInEitherOrder) {
  const char* name = "Content-Type: application/octet-stream; name=x.exe";
  const char* filename = "Content-Disposition: attachment; filename=y.exe";
  const char* emptyFilename = "Content-Disposition: attachment; filename=";
  EXPECT_EQ("application/octet-stream|7bit|y.exe|", interpretAll({name, filename}));
  EXPECT_EQ("application/octet-stream|7bit|y.exe|", interpretAll({filename, name}));
  // An empty filename empties the name, which a later name parameter refills.
  EXPECT_EQ("application/octet-stream|7bit||", interpretAll({name, emptyFilename}));
  EXPECT_EQ("application/octet-stream|7bit|x.exe|", interpretAll({emptyFilename, name}));
  // A later Content-Type replaces the type and pushes again.
  EXPECT_EQ("b/b|7bit|x.exe|1,2,",
            interpretAll({"Content-Type: a/a; boundary=1; name=x.exe", "Content-Type: b/b; boundary=2"}));
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
