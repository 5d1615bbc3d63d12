#include "host/replay.h"

#include <gtest/gtest.h>

#include <string>

namespace zentry::host {
namespace {

// The Subject column: trimmed and decoded as strict mode decodes, Latin-1
// letters shown as UTF-8 so that they read as written.
TEST(ReplayRow, DecodedSubject) {
  struct Case {
    const char* raw;
    const char* decoded;
  };
  const Case cases[] = {
      {"  Hello  ", "Hello"},
      {"=?iso-8859-1?Q?Photos_f=FCr_dich?=", "Photos f\xc3\xbcr dich"},
      {"Re: =?ISO-8859-1*de?B?Zvxy?= =?latin1?q?_x?=", "Re: f\xc3\xbcr x"},
      {"=?utf-8?Q?f=C3=BCr?=", "f\xc3\xbcr"},
      {"=?koi8-r?Q?=E6?= =?iso-8859-1?Q?=E6?=", "\xe6\xe6"},  // mixed: bytes as they are
      {"caf\xe9 =? x", "caf\xe9 =? x"},
  };
  FilterResult clean;
  clean.status = FilterResult::Status::exited;
  clean.exitCode = 0;
  for (const Case& c : cases) {
    EXPECT_EQ(std::optional<std::string>(c.decoded), rowFor("1", std::string(c.raw), clean).decodedSubject)
        << c.raw;
  }
  EXPECT_FALSE(rowFor("1", std::nullopt, clean).decodedSubject);
  EXPECT_EQ(998u, rowFor("1", std::string(5000, 'x'), clean).subject->size());
}

}  // namespace
}  // namespace zentry::host
