#include "host/name_origins.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace zentry::host {
namespace {

struct OriginCase {
  const char* name;
  std::vector<std::string> trace;
  std::vector<std::string> names;
  std::string message;
  std::vector<std::string> origins;
};

TEST(InferNameOrigins, FollowsTheWalk) {
  const OriginCase cases[] = {
      {"single text body",
       {"ProcessFile2 4 - 4294967294", "Process MIME Part 0", "text/plain"},
       {"File0.tmp"},
       "Subject: x\n\nhello\n",
       {"part 0 (text/plain), no name given"}},
      // Multipart entities record nothing; a uuencoded file comes before the
      // name of the part it sits in; an embedded message's names come before
      // the name of the message/rfc822 part holding it.
      {"uuencode and embedded message",
       {"ProcessFile2 4 - 4294967294",
        "Process MIME Part 0",
        "multipart/mixed",
        "Into multipart",
        "Process MIME Part 1",
        "text/plain",
        " 93 - 129",
        "Process MIME Part 2",
        "message/rfc822",
        " 159 - 295",
        "ProcessFile2 159 - 295",
        "Process MIME Part 0",
        "multipart/mixed",
        "Into multipart",
        "Process MIME Part 1",
        "application/octet-stream",
        " 281 - 291",
        "Process MIME Part 3",
        "text/plain",
        " 338 - 348"},
       {"up.exe", "File1.tmp", "inner.exe", "File2.tmp", "last.txt"},
       "begin 644 up.exe\n",
       {"uuencoded file in part 1 (text/plain)", "part 1 (text/plain), no name given",
        "message in part 2, part 1 (application/octet-stream)", "part 2 (message/rfc822), no name given",
        "part 3 (text/plain)"}},
      // A leaf without an ending line ran to the end of its scan: the end of
      // the embedded message, whose part then records its name.
      {"embedded leaf running to the end of its range",
       {"ProcessFile2 4 - 4294967294", "Process MIME Part 0", "multipart/mixed", "Into multipart",
        "Process MIME Part 1", "message/rfc822", " 60 - 120", "ProcessFile2 60 - 120", "Process MIME Part 0",
        "text/plain", "Process MIME Part 2", "text/plain", " 130 - 150"},
       {"File0.tmp", "a.eml", "File2.tmp"},
       "",
       {"message in part 1, part 0 (text/plain), no name given", "part 1 (message/rfc822)",
        "part 2 (text/plain), no name given"}},
      {"nameless uuencoded file",
       {"ProcessFile2 4 - 4294967294", "Process MIME Part 0", "text/plain"},
       {"File1.DAT", "File0.tmp"},
       "begin 644\n",
       {"uuencoded file in part 0 (text/plain)", "part 0 (text/plain), no name given"}},
      // A content type that looks like a trace line is still the content type.
      {"content type imitating a range",
       {"ProcessFile2 4 - 4294967294", "Process MIME Part 0", " 1 - 2"},
       {"File0.tmp"},
       "",
       {"part 0 ( 1 - 2), no name given"}},
      {"more names than the trace explains",
       {"ProcessFile2 4 - 4294967294", "Process MIME Part 0", "text/plain"},
       {"a", "b"},
       "",
       {"part 0 (text/plain)", ""}},
      {"no trace", {}, {"a"}, "", {""}},
  };
  for (const OriginCase& c : cases)
    EXPECT_EQ(c.origins, inferNameOrigins(c.trace, c.names, c.message)) << c.name;
}

}  // namespace
}  // namespace zentry::host
