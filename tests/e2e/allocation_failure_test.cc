// The whole filter, in process, with one allocation failing: every index in
// turn, from the first allocation of the run's state to the last of its
// verdict. Whatever fails, the run must finish with complete output lines and
// a verdict that is whole or absent, and must release everything it took.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "core/allocator.h"
#include "filter/driver.h"
#include "support/e2e.h"
#include "support/memory_workspace.h"
#include "support/output_check.h"
#include "support/table.h"

// Only there under the address sanitizer, where it finds what a run kept.
// NOLINTNEXTLINE(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp,readability-identifier-naming)
extern "C" __attribute__((weak)) int __lsan_do_recoverable_leak_check();

namespace zentry::test {
namespace {

const std::string firstBanner = "Zentry V1.3 - Attachment Worm/virus protector for Movra\r\n";

struct Outcome {
  std::string output;
  std::string log;
  int exitCode = 0;
  std::uint64_t allocations = 0;
};

const std::string rules =
    "Executable\n\n*.exe\n"
    "Screen saver\n\n*.SCR\n"
    "Subject\n*Your document*\n\n"
    // A mask long enough that the matcher takes a block of its own.
    "Long\n\n" +
    std::string(300, '?') + "*.zip\n";

// The run state is built inside the sweep too: the program's globals
// allocate before anything else does.
Outcome runWithFailure(const Row& c, bool debug, std::uint64_t failing) {
  MemoryWorkspace workspace;
  workspace.write("zentry.dat", rules);
  workspace.write("routing.dat", routingFile(crlf(c[3])));
  std::vector<std::string> arguments{"zentry", "quarantine", "errorlevel"};
  if (debug) arguments.emplace_back("debug");
  if (c.fields.size() > 4) arguments.emplace_back(c[4]);
  const EnvironmentBlock environment{"subject=" + c[2]};
  StringSink output;
  Outcome outcome;
  const std::uint64_t before = allocationCount();
  failAllocationAt(failing);
  {
    RunState state;
    outcome.exitCode = runZentry(arguments, environment, workspace, output, state);
  }
  failAllocationAt(0);
  outcome.allocations = allocationCount() - before;
  outcome.output = output.bytes;
  outcome.log = workspace.read("zentry.log");
  return outcome;
}

// What the host relies on, whatever went missing: the banner, whole lines,
// and either no verdict or both of its lines together with exit code 1.
std::string shapeProblem(const Outcome& run) {
  if (run.output.compare(0, firstBanner.size(), firstBanner) != 0) return "no banner";
  if (!hasCompleteLines(run.output)) return "broken line on standard output";
  if (!hasCompleteLines(run.log)) return "broken line in the log";
  const std::vector<std::string> lines = splitLines(run.output);
  std::size_t verdicts = 0;
  for (std::size_t i = 2; i < lines.size(); ++i) {
    if (lines[i].compare(0, 4, "To: ") != 0) continue;
    if (i + 1 == lines.size() || lines[i + 1].compare(0, 19, "Subject: Infected (") != 0)
      return "half a verdict";
    ++verdicts;
  }
  // A trace line may also start with "To: ", so only the exit code can say
  // whether one of them is the verdict.
  if (run.exitCode == 1 && verdicts == 0) return "exit code 1 without a verdict";
  if (run.exitCode != 0 && run.exitCode != 1) return "exit code " + std::to_string(run.exitCode);
  return "";
}

TEST(AllocationFailure, EveryIndexOfWholeRuns) {
  for (const Row& c : readTable("allocation_sweep.txt")) {
    const std::string what = c.where + ": " + c[0];
    for (const bool debug : {false, true}) {
      const Outcome clean = runWithFailure(c, debug, 0);
      ASSERT_EQ("", shapeProblem(clean)) << what;
      ASSERT_GT(clean.allocations, 10u) << what;
      // The sweep is only as good as its cases: each must reach the code
      // paths it was written for and give its verdict.
      const std::string verdict = "Subject: Infected (" + c[1] + ")";
      ASSERT_EQ(!c[1].empty(), clean.output.find(verdict) != std::string::npos) << what;
      ASSERT_EQ(!c[1].empty() ? 1 : 0, clean.exitCode) << what;
      // Index n+1 is past the run's last allocation: nothing fails there.
      for (std::uint64_t failing = 1; failing <= clean.allocations + 1; ++failing) {
        const Outcome run = runWithFailure(c, debug, failing);
        ASSERT_EQ("", shapeProblem(run))
            << what << (debug ? ", traced" : "") << ", allocation " << failing << " fails:\n"
            << run.output;
        if (failing > clean.allocations) {
          EXPECT_EQ(clean.output, run.output) << what;
          EXPECT_EQ(clean.log, run.log) << what;
        }
      }
    }
  }
  if (__lsan_do_recoverable_leak_check != nullptr) {
    EXPECT_EQ(0, __lsan_do_recoverable_leak_check());
  }
}

}  // namespace
}  // namespace zentry::test
