#include "host/name_origins.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace zentry::host {
namespace {

std::vector<std::string> split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  for (std::size_t start = 0; start <= text.size();) {
    const std::size_t end = std::min(text.find(separator, start), text.size());
    parts.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return parts;
}

TEST(InferNameOrigins, FollowsTheWalk) {
  const std::string top = "ProcessFile2 4 - 4294967294\nProcess MIME Part 0\n";
  const struct {
    std::string trace;  // lines
    std::string names;  // separated by '|', as the origins
    std::string message;
    std::string origins;
  } cases[] = {
      {top + "text/plain", "File0.tmp", "Subject: x\n\nhello\n", "part 0 (text/plain), no name given"},
      // Multipart entities record nothing; a uuencoded file comes before the
      // name of the part it sits in; an embedded message's names come before
      // the name of the message/rfc822 part holding it.
      {top +
           "multipart/mixed\nInto multipart\nProcess MIME Part 1\ntext/plain\n 93 - 129\nProcess MIME Part "
           "2\n"
           "message/rfc822\n 159 - 295\nProcessFile2 159 - 295\nProcess MIME Part 0\nmultipart/mixed\n"
           "Into multipart\nProcess MIME Part 1\napplication/octet-stream\n 281 - 291\nProcess MIME Part 3\n"
           "text/plain\n 338 - 348",
       "up.exe|File1.tmp|inner.exe|File2.tmp|last.txt", "begin 644 up.exe\n",
       "uuencoded file in part 1 (text/plain)|part 1 (text/plain), no name given|message in part 2, part 1 "
       "(application/octet-stream)|part 2 (message/rfc822), no name given|part 3 (text/plain)"},
      // A leaf without an ending line ran to the end of its scan: the end of
      // the embedded message, whose part then records its name.
      {top + "multipart/mixed\nInto multipart\nProcess MIME Part 1\nmessage/rfc822\n 60 - 120\n"
             "ProcessFile2 60 - 120\nProcess MIME Part 0\ntext/plain\nProcess MIME Part 2\ntext/plain\n 130 "
             "- 150",
       "File0.tmp|a.eml|File2.tmp", "",
       "message in part 1, part 0 (text/plain), no name given|part 1 (message/rfc822)|part 2 (text/plain), "
       "no "
       "name given"},
      {top + "text/plain", "File1.DAT|File0.tmp", "begin 644\n",
       "uuencoded file in part 0 (text/plain)|part 0 (text/plain), no name given"},
      // A content type that looks like a trace line is still the content type.
      {top + " 1 - 2", "File0.tmp", "", "part 0 ( 1 - 2), no name given"},
      {top + "text/plain", "a|b", "", "part 0 (text/plain)|"},
      {"", "a", "", ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(split(c.origins, '|'), inferNameOrigins(split(c.trace, '\n'), split(c.names, '|'), c.message))
        << c.names;
  }
}

}  // namespace
}  // namespace zentry::host
