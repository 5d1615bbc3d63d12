// zentry-host as a process among others: what happens to its working
// directories, its filter and its exit code when it is signalled, runs out of
// resources or cannot write.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "host/host_runner.h"

namespace zentry::test {
namespace {

using HostProcess = HostFixture;

#ifndef __has_feature
#define __has_feature(feature) 0
#endif
// AddressSanitizer reserves terabytes of address space: no limit on it can work.
#if defined(__SANITIZE_ADDRESS__) || __has_feature(address_sanitizer)
constexpr bool addressSanitizer = true;
#else
constexpr bool addressSanitizer = false;
#endif

TEST_F(HostProcess, OutputErrorsAreReported) {
  scratch.write("message.eml", "Subject: x\n\n");
  scratch.write("rules.dat", "");
  const auto fullOutput = [] { dup2(open("/dev/full", O_WRONLY), 1); };
  for (const std::vector<std::string>& arguments : std::vector<std::vector<std::string>>{
           {"--help"}, {"--version"}, {file("message.eml"), file("rules.dat"), "box"}}) {
    const HostRun run = runHostWith(
        scratch, arguments, "", environment, [](pid_t) {}, fullOutput);
    EXPECT_EQ(74, run.exitCode) << arguments[0];
    EXPECT_NE(std::string::npos, run.errors.find("No space left on device")) << run.errors;
  }
  EXPECT_TRUE(tmpIsEmpty());
}

// Polls `done` every 10 ms for up to 30 s: a loaded machine may be slow, a
// fault must not hang the suite.
template <typename Condition>
bool waitFor(Condition done) {
  for (int i = 0; i < 3000; ++i) {
    if (done()) return true;
    usleep(10000);
  }
  return false;
}

// A signal mid-run reaches the filter and then ends zentry-host by that
// signal, with its directory removed and no filter left running; one that
// was ignored when it started stays ignored, by it and by the filter.
TEST_F(HostProcess, SignalsEndItAfterCleaningUp) {
  scratch.write("message.eml", "Subject: x\n\n");
  scratch.write("mail.mbox", "From a@b Mon Jan  1 10:00:00 2024\nSubject: x\n\n");
  scratch.write("rules.dat", "");
  const std::string started = "#!/bin/sh\necho $$ >" + file("pid") + "\n";
  // Waits for "go", then signals itself: it survives only if the signal is ignored.
  scratch.write("hup.sh",
                started + "i=0; while [ ! -e " + file("go") +
                    " ] && [ $i -lt 3000 ]; do sleep 0.01; i=$((i+1)); done\nkill -HUP $$\necho survived\n");
  scratch.write("slow.sh", started + "exec sleep 60\n");
  // Ends on its own after 1 MB of output, which zentry-host then relays to a
  // reader that never reads.
  scratch.write("loud.sh", "#!/bin/sh\nhead -c 1000000 /dev/zero\necho $$ >" + file("pid") + "\n");
  for (const char* script : {"hup.sh", "slow.sh", "loud.sh"}) chmod(file(script).c_str(), 0755);
  const std::vector<std::string> run{file("message.eml"), file("rules.dat"), "box"};
  struct Case {
    std::vector<std::string> arguments;
    const char* filter;
    int signal;
    bool ignored;  // at the start
  };
  const Case cases[] = {
      {run, "slow.sh", SIGUSR1, false},
      {run, "slow.sh", SIGALRM, false},
      {run, "slow.sh", SIGQUIT, false},
      {{"--explain", file("message.eml"), file("rules.dat")}, "slow.sh", SIGTERM, false},
      {{"--replay", "--no-progress", file("mail.mbox"), file("rules.dat")}, "slow.sh", SIGINT, false},
      {run, "loud.sh", SIGTERM, false},
      {run, "hup.sh", SIGHUP, true},
  };
  for (const Case& c : cases) {
    std::vector<std::string> arguments = c.arguments;
    arguments.insert(arguments.begin(), {"--zentry", file(c.filter)});
    const auto inChild = [&c] {
      const rlimit noCore{0, 0};
      setrlimit(RLIMIT_CORE, &noCore);
      if (c.ignored) signal(c.signal, SIG_IGN);
      int unread[2];  // the read end stays open in the child: writes block, never fail
      if (!c.ignored && pipe(unread) == 0) dup2(unread[1], 1);
    };
    const HostRun result = runHostWith(
        scratch, arguments, "", environment,
        [&](pid_t child) {
          EXPECT_TRUE(waitFor(
              [&] { return scratch.exists("pid") && (c.filter != std::string("loud.sh") || tmpIsEmpty()); }));
          kill(child, c.signal);
          scratch.write("go", "");
          siginfo_t info{};
          if (!waitFor([&] {
                return waitid(P_PID, static_cast<id_t>(child), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
                       info.si_pid == child;
              }))
            kill(child, SIGKILL);
        },
        inChild);
    EXPECT_EQ(c.ignored ? 0 : c.signal, result.signal) << c.filter << " " << c.signal;
    if (c.ignored) {
      EXPECT_EQ("survived\n", result.output);
    }
    EXPECT_NE(0, kill(std::stoi(scratch.read("pid")), 0)) << "the filter is left running";
    EXPECT_TRUE(tmpIsEmpty());
    std::filesystem::remove(file("pid"));
    std::filesystem::remove(file("go"));
  }
}

// Short of resources, zentry-host asks to be tried again later (75) and
// leaves nothing behind.
TEST_F(HostProcess, ShortOfResourcesItAsksToTryAgain) {
  scratch.write("message.eml", "Subject: x\n\n" + std::string(100000, 'x'));
  scratch.write("rules.dat", "");
  scratch.write("endless.sh", "#!/bin/sh\nexec yes\n");
  chmod(file("endless.sh").c_str(), 0755);
  std::string mbox;
  for (int i = 0; i < 64; ++i) mbox += "From a@b Mon Jan  1 10:00:00 2024\nSubject: x\n\n";
  scratch.write("mail.mbox", mbox);
  constexpr rlim_t addressSpace = 256 << 20;
  struct Case {
    std::vector<std::string> arguments;
    int resource;
    rlim_t limit;
    const char* complaint;
  };
  const Case cases[] = {
      {{file("message.eml"), file("rules.dat"), "box"}, RLIMIT_FSIZE, 50000, "File too large"},
      // A filter whose output fills the memory; 64 threads of 8 MB stacks.
      {{"--zentry", file("endless.sh"), file("message.eml"), file("rules.dat"), "box"},
       RLIMIT_AS,
       addressSpace,
       "std::bad_alloc"},
      {{"--replay", "-j64", file("mail.mbox"), file("rules.dat")},
       RLIMIT_AS,
       addressSpace,
       "Resource temporarily unavailable"},
  };
  for (const Case& c : cases) {
    if (c.resource == RLIMIT_AS && addressSanitizer) continue;
    const HostRun run = runHostWith(
        scratch, c.arguments, "", environment, [](pid_t) {},
        [&c] {
          const rlimit limit{c.limit, c.limit};
          setrlimit(c.resource, &limit);
        });
    EXPECT_EQ(75, run.exitCode) << c.complaint;
    EXPECT_NE(std::string::npos, run.errors.find(c.complaint)) << run.errors;
    EXPECT_TRUE(tmpIsEmpty()) << c.complaint;
  }
}

}  // namespace
}  // namespace zentry::test
