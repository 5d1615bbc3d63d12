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

#ifndef __has_feature
#define __has_feature(feature) 0
#endif
// AddressSanitizer reserves terabytes of address space: no limit on it can work.
#if defined(__SANITIZE_ADDRESS__) || __has_feature(address_sanitizer)
constexpr bool addressSanitizer = true;
#else
constexpr bool addressSanitizer = false;
#endif

// Polls `done` every 10 ms for up to 30 s: a loaded machine may be slow, a
// fault must not hang the suite.
template <typename Condition>
bool waitFor(Condition done) {
  for (int i = 0; i < 3000 && !done(); ++i) usleep(10000);
  return done();
}

struct HostProcess : HostFixture {
  std::vector<std::string> run;
  void SetUp() override {
    HostFixture::SetUp();
    scratch.write("message.eml", "Subject: x\n\n" + std::string(100000, 'x'));
    scratch.write("rules.dat", "");
    std::string mbox;
    for (int i = 0; i < 64; ++i) mbox += "From a@b Mon Jan  1 10:00:00 2024\nSubject: x\n\n";
    scratch.write("mail.mbox", mbox);
    const std::string started = "#!/bin/sh\necho $$ >" + file("pid") + "\n";
    // Waits for "go", then signals itself: it survives only if SIGHUP is ignored.
    scratch.write("hup.sh",
                  started + "i=0; while [ ! -e " + file("go") +
                      " ] && [ $i -lt 3000 ]; do sleep 0.01; i=$((i+1)); done\nkill -HUP $$\necho ok\n");
    scratch.write("slow.sh", started + "exec sleep 60\n");
    // Ends on its own after 1 MB of output, which zentry-host then relays.
    scratch.write("loud.sh", "#!/bin/sh\nhead -c 1000000 /dev/zero\necho $$ >" + file("pid") + "\n");
    scratch.write("endless.sh", "#!/bin/sh\nexec yes\n");
    for (const char* script : {"hup.sh", "slow.sh", "loud.sh", "endless.sh"})
      chmod(file(script).c_str(), 0755);
    run = {file("message.eml"), file("rules.dat"), "box"};
  }
};

// Short of resources zentry-host asks to be tried again later (75), and an
// output it cannot write is an output error (74); nothing is left behind.
TEST_F(HostProcess, FailuresGetTheirExitCode) {
  const std::vector<std::string> endless{"--zentry", file("endless.sh"), file("message.eml"),
                                         file("rules.dat"), "b"};
  const struct {
    std::vector<std::string> arguments;
    int resource;  // limited to 50 kB of file or 256 MB of memory; -1: output to /dev/full
    int exitCode;
    const char* complaint;
  } cases[] = {
      {{"--help"}, -1, 74, "No space left on device"},
      {{"--version"}, -1, 74, "No space left on device"},
      {run, -1, 74, "No space left on device"},
      {run, RLIMIT_FSIZE, 75, "File too large"},
      // A filter whose output fills the memory; 64 threads of 8 MB stacks.
      {endless, RLIMIT_AS, 75, "std::bad_alloc"},
      {{"--replay", "-j64", file("mail.mbox"), file("rules.dat")},
       RLIMIT_AS,
       75,
       "Resource temporarily unavailable"},
  };
  for (const auto& c : cases) {
    if (c.resource == RLIMIT_AS && addressSanitizer) continue;
    const HostRun result = runHostWith(
        scratch, c.arguments, "", environment, [](pid_t) {},
        [&c] {
          const rlim_t size = c.resource == RLIMIT_AS ? 256 << 20 : 50000;
          const rlimit limit{size, size};
          if (c.resource < 0) dup2(open("/dev/full", O_WRONLY), 1);
          if (c.resource >= 0) setrlimit(c.resource, &limit);
        });
    EXPECT_EQ(c.exitCode, result.exitCode) << c.complaint;
    EXPECT_NE(std::string::npos, result.errors.find(c.complaint)) << result.errors;
    EXPECT_TRUE(tmpIsEmpty()) << c.complaint;
  }
}

// A signal mid-run reaches the filter and then ends zentry-host by that
// signal, with its directory removed and no filter left running, also while
// it is blocked writing to a reader that does not read; one that was ignored
// when it started stays ignored, by it and by the filter.
TEST_F(HostProcess, SignalsEndItAfterCleaningUp) {
  const struct {
    std::vector<std::string> arguments;
    const char* filter;
    int signal;
  } cases[] = {
      {run, "slow.sh", SIGUSR1},
      {run, "slow.sh", SIGALRM},
      {run, "slow.sh", SIGQUIT},
      {{"--explain", file("message.eml"), file("rules.dat")}, "slow.sh", SIGTERM},
      {{"--replay", "--no-progress", file("mail.mbox"), file("rules.dat")}, "slow.sh", SIGINT},
      {run, "loud.sh", SIGTERM},
      {run, "hup.sh", SIGHUP},
  };
  for (const auto& c : cases) {
    const bool ignored = c.signal == SIGHUP, loud = c.filter == std::string("loud.sh");
    std::vector<std::string> arguments = c.arguments;
    arguments.insert(arguments.begin(), {"--zentry", file(c.filter)});
    const HostRun result = runHostWith(
        scratch, arguments, "", environment,
        [&](pid_t child) {
          EXPECT_TRUE(waitFor([&] { return scratch.exists("pid") && (!loud || tmpIsEmpty()); }));
          kill(child, c.signal);
          scratch.write("go", "");
          siginfo_t info{};
          const auto ended = [&] {
            return waitid(P_PID, static_cast<id_t>(child), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
                   info.si_pid == child;
          };
          if (!waitFor(ended)) kill(child, SIGKILL);
        },
        [&] {
          const rlimit noCore{0, 0};
          setrlimit(RLIMIT_CORE, &noCore);
          // A shell starts background jobs with SIGINT and SIGQUIT ignored.
          signal(c.signal, ignored ? SIG_IGN : SIG_DFL);
          int unread[2];  // the read end stays open in the child: writes block, never fail
          if (!ignored && pipe(unread) == 0) dup2(unread[1], 1);
        });
    EXPECT_EQ(ignored ? 0 : c.signal, result.signal) << c.filter << " " << c.signal;
    EXPECT_EQ(ignored ? "ok\n" : "", result.output);
    EXPECT_NE(0, kill(std::stoi(scratch.read("pid")), 0)) << "the filter is left running";
    EXPECT_TRUE(tmpIsEmpty());
    std::filesystem::remove(file("pid"));
    std::filesystem::remove(file("go"));
  }
}

}  // namespace
}  // namespace zentry::test
