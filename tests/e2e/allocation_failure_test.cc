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

#if defined(__SANITIZE_ADDRESS__)
#define ZENTRY_LEAK_CHECK 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ZENTRY_LEAK_CHECK 1
#endif
#endif
#ifdef ZENTRY_LEAK_CHECK
#include <sanitizer/lsan_interface.h>
#endif

namespace zentry::test {
namespace {

const std::string firstBanner = "Zentry V1.3 - Attachment Worm/virus protector for Movra\r\n";

struct SweepCase {
  const char* what;
  const char* label;  // the verdict a clean run gives; "" for none
  std::string rules;
  std::string subject;
  std::string message;
  bool strict = false;
};

struct Outcome {
  std::string output;
  std::string log;
  int exitCode = 0;
  std::uint64_t allocations = 0;
};

// The run state is built inside the sweep too: the program's globals
// allocate before anything else does.
Outcome runWithFailure(const SweepCase& c, bool debug, std::uint64_t failing) {
  MemoryWorkspace workspace;
  workspace.write("zentry.dat", c.rules);
  workspace.write("routing.dat", routingFile(crlf(c.message)));
  std::vector<std::string> arguments{"zentry", "quarantine", "errorlevel"};
  if (debug) arguments.emplace_back("debug");
  if (c.strict) arguments.emplace_back("strict");
  const EnvironmentBlock environment{"subject=" + c.subject};
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

const std::string rules =
    "Executable\n\n*.exe\n"
    "Screen saver\n\n*.SCR\n"
    "Subject\n*Your document*\n\n"
    // A mask long enough that the matcher takes a block of its own.
    "Long\n\n" +
    std::string(300, '?') + "*.zip\n";

const SweepCase sweepCases[] = {
    {"nested multipart with an encoded name", "Executable", rules, "=?iso-8859-1?Q?Hello_there?=",
     "Content-Type: multipart/mixed; boundary=\"A\"\n\npreamble\n--A\nContent-Type: text/plain\n\nhello\n"
     "--A\nContent-Type: multipart/alternative; boundary=B\n\n--B\n\none\n--B\n\ntwo\n--B--\n"
     "--A\nContent-Type: application/octet-stream;\n\tname=\"=?us-ascii?B?aW52b2ljZS5leGU=?=\"\n"
     "Content-Transfer-Encoding: base64\n\nTVqQAAMAAAAEAAAA\n--A--\n"},
    {"embedded message and disposition", "Screen saver", rules, "fwd: report",
     "Content-Type: multipart/mixed; boundary=A\n\n--A\nContent-Type: message/rfc822\n\n"
     "Subject: inner\nContent-Type: multipart/mixed; boundary=C\n\n--C\n"
     "Content-Disposition: attachment; filename=\"inner.scr\"\n\nxx\n--C--\n"
     "--A\nContent-Type: text/plain; name='v.zip'\n\n--A--\n"},
    {"uuencoded files in a plain body", "Executable", rules, "  Your document  ",
     "Subject: uu\n\nbody\nbegin 644 =?x?Q?a.exe?=\nM86)C9&5F\n`\nend\nbegin 644\n#86)C\n`\nend\n"
     "begin 0644 open.exe\nM86)C\n"},
    {"no rule hits", "", rules, "plain", "From: a@b\n\njust text\n"},
    {"strict mode: continued, encoded and uuencoded names, decoded bodies", "Screen saver", rules,
     "=?x?q?a?= =?x?B?Yg==?=",
     "Content-Type: multipart/mixed; boundary=A\n\n--A\nContent-Type: text/plain\n\nhi\x1a\n"
     "begin 644 t.zip.\n#86)C\n`\nend\n--A\nContent-Type: a/b; name*1=\"ice.scr\";\n name*0*=''inv%6F\n"
     "Content-Transfer-Encoding: quoted-printable\n\nab=3D=\ncd\n--A\nContent-Transfer-Encoding: base64\n"
     "Content-Disposition: attachment; filename=\"=?x?Q?a?= =?x?Q?b.txt?=\"\n\nTVqQAAMA\n--A--\n",
     true},
};

TEST(AllocationFailure, EveryIndexOfWholeRuns) {
  for (const SweepCase& c : sweepCases) {
    for (const bool debug : {false, true}) {
      const Outcome clean = runWithFailure(c, debug, 0);
      ASSERT_EQ("", shapeProblem(clean)) << c.what;
      ASSERT_GT(clean.allocations, 10u) << c.what;
      // The sweep is only as good as its cases: each must reach the code
      // paths it was written for and give its verdict.
      const std::string verdict = "Subject: Infected (" + std::string(c.label) + ")";
      ASSERT_EQ(*c.label != '\0', clean.output.find(verdict) != std::string::npos) << c.what;
      ASSERT_EQ(*c.label != '\0' ? 1 : 0, clean.exitCode) << c.what;
      // Index n+1 is past the run's last allocation: nothing fails there.
      for (std::uint64_t failing = 1; failing <= clean.allocations + 1; ++failing) {
        const Outcome run = runWithFailure(c, debug, failing);
        ASSERT_EQ("", shapeProblem(run))
            << c.what << (debug ? ", traced" : "") << ", allocation " << failing << " fails:\n"
            << run.output;
        if (failing > clean.allocations) {
          EXPECT_EQ(clean.output, run.output) << c.what;
          EXPECT_EQ(clean.log, run.log) << c.what;
        }
      }
    }
  }
#ifdef ZENTRY_LEAK_CHECK
  EXPECT_EQ(0, __lsan_do_recoverable_leak_check());
#endif
}

}  // namespace
}  // namespace zentry::test
