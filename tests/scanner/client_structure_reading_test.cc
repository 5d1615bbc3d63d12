// Messages whose structure clients read otherwise than exact mode's walk:
// strict mode must find what clients show, trace where it came from, and
// leave exact mode's names as they were; ordinary mail must read alike
// without a second reading.
#include "scanner/client_structure_reading.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "filter/driver.h"
#include "platform/console.h"
#include "scanner/strict_scan.h"
#include "support/memory_workspace.h"
#include "support/table.h"

namespace zentry {
namespace {

struct ModeRun {
  std::string output;
  std::vector<std::string> names;
  bool hit = false;
};

ModeRun run(const std::string& message, bool strict) {
  test::MemoryWorkspace workspace;
  workspace.write("routing.dat", "XXXX" + message);
  workspace.write("zentry.dat", "Exe\n\n*.exe\n");
  std::vector<std::string> arguments{"zentry", "box", "debug"};
  if (strict) arguments.emplace_back("strict");
  StringSink output;
  RunState state;
  runZentry(arguments, {"subject=s"}, workspace, output, state);
  ModeRun result;
  result.output = output.bytes;
  for (const String& name : state.attachmentNames) result.names.emplace_back(name.cStr(), name.length());
  result.hit = state.hit.rule != nullptr;
  return result;
}

std::set<std::string> strictNames(const std::string& message, ClientReading clientReading) {
  test::MemoryWorkspace workspace;
  workspace.write("routing.dat", "XXXX" + message);
  StringSink discarded;
  Console console(discarded);
  AttachmentNames names;
  StrictOutcome outcome;
  EXPECT_TRUE(scanInStrictMode(workspace, String("routing.dat"), console, names, outcome, clientReading));
  std::set<std::string> found;
  for (const String& name : names) found.emplace(name.cStr(), name.length());
  return found;
}

std::string joined(const std::vector<std::string>& names) {
  std::string text;
  for (const std::string& name : names) text += name + "|";
  return text;
}

bool holds(const std::vector<std::string>& names, const std::string& name) {
  for (const std::string& held : names) {
    if (held == name) return true;
  }
  return false;
}

TEST(ClientStructureReading, Table) {
  for (const test::Row& row : test::readTable("client_structure.txt")) {
    const std::string& message = row[1];
    const std::string& wanted = row[2];
    const ModeRun strict = run(message, true);
    const ModeRun exact = run(message, false);
    if (wanted.empty()) {
      EXPECT_FALSE(strict.hit) << row.where << "\n" << strict.output;
    } else {
      EXPECT_TRUE(holds(strict.names, wanted)) << row.where << "\n" << joined(strict.names);
    }
    if (!row[3].empty()) {
      EXPECT_NE(strict.output.find(row[3] + "\r\n"), std::string::npos) << row.where << "\n" << strict.output;
    }
    const bool readAgain = strict.output.find("Read as clients read it") != std::string::npos;
    EXPECT_EQ(row[4] == "yes", readAgain) << row.where;
    if (row[5] != "*") {
      EXPECT_EQ(row[5], joined(exact.names)) << row.where;
    }
    EXPECT_FALSE(exact.hit && !strict.hit) << row.where;
    // The traits miss nothing: reading as clients do every time adds no name.
    EXPECT_EQ(strictNames(message, ClientReading::always), strictNames(message, ClientReading::onTraits))
        << row.where;
  }
}

}  // namespace
}  // namespace zentry
