#include "host/replay.h"

#include <gtest/gtest.h>

#include <string>

namespace zentry::host {
namespace {

// The Subject column: trimmed and decoded as the filter matches it, Latin-1
// letters shown as UTF-8 so that they read as written.
TEST(ReplayRow, DecodedSubject) {
  struct Case {
    const char* raw;
    const char* decoded;
  };
  const Case cases[] = {
      {"  Hello  ", "Hello"},
      {"=?iso-8859-1?Q?Photos_f=FCr_dich?=", "Photos_f\xc3\xbcr_dich"},
      {"=?ISO-8859-1?B?Zvxy?=", "f\xc3\xbcr"},
      {"=?utf-8?Q?f=C3=BCr?=", "f\xc3\xbcr"},
      {"=?koi8-r?Q?=E6?=", "\xe6"},
      {"caf\xe9 =?iso-8859-1?Q?x?=", "caf\xe9 =?iso-8859-1?Q?x?="},  // not one encoded word: as it came
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
