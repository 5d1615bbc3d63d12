#include "host/filter_trace.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "support/e2e.h"
#include "support/table.h"

namespace zentry::host {
namespace {

TEST(ParseFilterOutput, Table) {
  for (const test::Row& row : test::readTable("../../host/testdata/filter_traces.txt")) {
    const std::optional<std::string> subject =
        row.fields.size() > 2 ? std::optional<std::string>(row[2]) : std::nullopt;
    const FilterTrace trace = parseFilterOutput(test::crlf("B\nN\n" + row[0]), subject);
    std::string summary =
        trace.hit ? "hit " + trace.label + " / " + trace.matchedName.value_or("-") : "clean";
    for (const std::string& name : trace.names) summary += " [" + name + "]";
    EXPECT_EQ(row[1], summary + " " + std::to_string(trace.scannerLines.size())) << row.where;
  }
}

}  // namespace
}  // namespace zentry::host
