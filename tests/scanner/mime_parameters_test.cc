#include "scanner/mime_parameters.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "scanner/encoded_text.h"

namespace zentry {
namespace {

struct ParameterCase {
  const char* field;
  std::vector<std::string> names;
};

const ParameterCase parameterCases[] = {
    {"Content-Type: a/b; NAME=\"x\\\"y;z\"", {"x\"y;z"}},
    {"content-disposition : attachment; filename*=''a%41%4", {"aA%4"}},
    {"Content-Disposition: attachment; filename*2=c; filename*0=a", {"ac"}},
    {"Content-Disposition: attachment; filename*1=b; filename*0=a; filename*0=x", {"ab"}},
    {"Content-Disposition: attachment; filename*0*=utf-8'en'a%2E; filename*1=%41", {"a.%41"}},
    {"Content-Type: a/b; name=a; filename=\"a\"; name=b", {"a", "b"}},
    {"Content-Type: a/b; name=\"=?x?q?a?= =?x?B?Yg==?=\" ; junk", {"ab"}},
    {"Content-Type: a/b; filename*0=\"=?x?q?a?=\"; filename*1=\" =?x?q?b?=\"", {"ab"}},
    {"Content-Type: a/b; name*=\"x'y'z\"; name*99999=q; name*x=r", {"z"}},
    {"Content-Type: a/b; =x; name; ;name=  spaced out  ", {"spaced out"}},
    {"X-Content-Type: a/b; name=x", {}},
    {"Content-Type: text/plain", {}},
};

TEST(MimeParameters, ShownNames) {
  for (const ParameterCase& c : parameterCases) {
    ShownNames names;
    collectShownNames(String(c.field), names);
    EXPECT_EQ(c.names, names.inOrder()) << c.field;
  }
}

// Clients show the first or the last of repeated parameters: both stay
// however many there are.
TEST(MimeParameters, ManyNamesKeepTheFirstAndTheLast) {
  std::string field = "Content-Type: a/b";
  for (int i = 0; i < 150; ++i) field += "; name=n" + std::to_string(i);
  ShownNames names;
  collectShownNames(String(field.c_str()), names);
  ASSERT_EQ(100u, names.inOrder().size());
  EXPECT_EQ("n98", names.inOrder()[98]);
  EXPECT_EQ("n149", names.inOrder().back());
}

struct WordsCase {
  const char* text;
  std::string decoded;
};

const WordsCase wordsCases[] = {
    {"=?a?Q?x?= \t =?a?q?y?=", "xy"},
    {"a =?a?Q?x_y?= b", "a x y b"},
    {"=?utf-8*en?b?eA==?==?a?B?eQ?=", "xy"},
    {"=?a?Q?=4x=41?=", "=4xA"},
    {"=?a?X?x?= =? a?Q?x?= =?a?Q?x", "=?a?X?x?= =? a?Q?x?= =?a?Q?x"},
    {"=?a?Q?x y?= =?a?Q?z?=", "=?a?Q?x y?= z"},
    {"=?a?Q?\?=", ""},
};

TEST(EncodedText, Table) {
  for (const WordsCase& c : wordsCases) EXPECT_EQ(c.decoded, decodeEncodedWords(c.text)) << c.text;
}

}  // namespace
}  // namespace zentry
