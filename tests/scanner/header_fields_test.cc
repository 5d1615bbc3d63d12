#include "scanner/header_fields.h"

#include <gtest/gtest.h>

#include <string>

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

struct FieldCase {
  const char* field;
  const char* want;
};

// clang-format off
const FieldCase singleFieldCases[] = {
    {"Content-Type: application/x-stuff", "application/x-stuff|7bit||"},
    {"CONTENT-TYPE:Image/GIF  ", "Image/GIF|7bit||"},
    {"content-type:", "|7bit||"},
    {"Content-Type: text/html; name=a.exe", "text/html|7bit|a.exe|"},
    {"Content-Type: text/html ;  name = \"a b.exe\"  ", "text/html|7bit|a b.exe|"},
    {"Content-Type: x/y; NAME=a.exe; name=b.exe", "x/y|7bit|a.exe|"},
    // Quotes: either kind, a ';' inside them stays in the value.
    {"Content-Type: x/y; name=\"a;b.exe\"", "x/y|7bit|a;b.exe|"},
    {"Content-Type: x/y; name='v.exe'", "x/y|7bit|v.exe|"},
    {"Content-Type: x/y; name=\"v.exe'", "x/y|7bit|\"v.exe'|"},
    {"Content-Type: x/y; name=\"\"", "x/y|7bit||"},
    {"Content-Type: x/y; name=\"", "x/y|7bit|\"|"},
    // The apostrophe takes over from the open double quote, the closing
    // double quote opens one again, and the ';' stays inside.
    {"Content-Type: x/y; name=\"it's.exe\"; charset=x", "x/y|7bit|\"it's.exe\"; charset=x|"},
    // A name without '=' swallows the next parameter.
    {"Content-Type: x/y; flag; name=a.exe", "x/y|7bit||"},
    {"Content-Type: x/y; name*=a.exe; name*0=b.exe", "x/y|7bit||"},
    {"Content-Type: x/y;", "x/y|7bit||"},
    {"Content-Type: x/y; ;;name=a.exe", "x/y|7bit||"},
    {"Content-Type: multipart/mixed; boundary=\"=_A\"", "multipart/mixed|7bit||=_A,"},
    {"Content-Type: text/plain; boundary=; Boundary=B", "text/plain|7bit||,B,"},
    {"Content-Type: m/x; boundary=\"a=b\"; name=n", "m/x|7bit|n|a=b,"},
    // A continuation line keeps its TAB, which the trimming removes.
    {"Content-Type: application/octet-stream;\tname=\"b.exe\"", "application/octet-stream|7bit|b.exe|"},
    // Only the exact prefixes count.
    {"Content-Type : x/y; name=a.exe", "text/plain|7bit||"},
    {"X-Content-Type: x/y; name=a.exe", "text/plain|7bit||"},
    {"Content-Typ", "text/plain|7bit||"},
    {"", "text/plain|7bit||"},
    // Transfer encoding: trimmed at the left only, cut at ';'.
    {"Content-Transfer-Encoding:   base64", "text/plain|base64||"},
    {"Content-Transfer-Encoding: base64 ", "text/plain|base64 ||"},
    {"content-transfer-encoding: x-uuencode; q=1", "text/plain|x-uuencode||"},
    {"Content-Transfer-Encoding:", "text/plain|||"},
    // Disposition: tokens between ';', only double quotes come off.
    {"Content-Disposition: attachment; filename=\"y.exe\"", "text/plain|7bit|y.exe|"},
    {"content-disposition:attachment;;FileName = z.exe ;", "text/plain|7bit|z.exe|"},
    {"Content-Disposition: attachment; filename=\"a;b.exe\"", "text/plain|7bit|\"a|"},
    {"Content-Disposition: attachment; filename='v.exe'", "text/plain|7bit|'v.exe'|"},
    {"Content-Disposition: attachment; filename=\"", "text/plain|7bit||"},
    {"Content-Disposition: attachment; filename=\"x", "text/plain|7bit|\"x|"},
    {"Content-Disposition: filename=a.exe", "text/plain|7bit||"},
    {"Content-Disposition: a; filename*=a.exe", "text/plain|7bit||"},
    {"Content-Disposition: a; filename=a.exe; filename=b.exe", "text/plain|7bit|b.exe|"},
};
// clang-format on

TEST(HeaderField, SingleFields) {
  for (const FieldCase& c : singleFieldCases) EXPECT_EQ(c.want, interpretAll({c.field})) << c.field;
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
