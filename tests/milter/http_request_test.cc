#include "milter/http_request.h"

#include <gtest/gtest.h>

#include "support/table.h"

namespace zentry::milter {
namespace {

const char* stateName(HeadState state) {
  switch (state) {
    case HeadState::incomplete:
      return "incomplete";
    case HeadState::complete:
      return "complete";
    case HeadState::tooLarge:
      return "too-large";
  }
  return "?";
}

TEST(MetricsHttpRequest, Table) {
  for (const test::Row& row : test::readTable("milter_http_requests.txt")) {
    const HeadState state = headState(row[0]);
    EXPECT_EQ(row[1], stateName(state)) << row.where;
    if (state != HeadState::complete) continue;
    const HttpAnswer answer = answerFor(row[0]);
    EXPECT_EQ(row[2], std::to_string(answer.status)) << row.where;
    EXPECT_EQ(row[3] == "1", answer.bodyWanted) << row.where;
  }
}

// The response carries exactly its Content-Length of body, and a HEAD gets the
// same header lines with no body.
TEST(MetricsHttpRequest, ResponseLengths) {
  const std::string exposition = "zentry_milter_rules 3\n";
  const std::string full = httpResponse({200, true}, exposition);
  const std::string head = httpResponse({200, false}, exposition);
  EXPECT_EQ(full, head + exposition);
  EXPECT_NE(std::string::npos, head.find("Content-Length: 22\r\n"));
  EXPECT_NE(std::string::npos, head.find("Content-Type: text/plain; version=0.0.4"));
  const std::string refused = httpResponse({405, true}, exposition);
  EXPECT_EQ(0u, refused.find("HTTP/1.1 405 Method Not Allowed\r\n"));
  EXPECT_NE(std::string::npos, refused.find("Allow: GET, HEAD\r\n"));
  EXPECT_EQ(std::string::npos, refused.find(exposition)) << "an error must not carry the metrics";
}

}  // namespace
}  // namespace zentry::milter
