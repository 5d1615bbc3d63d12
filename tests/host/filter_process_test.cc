// zentry-host as a process among others: what happens to its working
// directories, its filter and its exit code when it is signalled, runs out of
// resources or cannot write.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "host/host_runner.h"
#include "support/table.h"

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
  void SetUp() override {
    HostFixture::SetUp();
    scratch.write("message.eml", "Subject: x\n\n" + std::string(100000, 'x'));
    scratch.write("rules.dat", "");
    std::string mbox;
    for (int i = 0; i < 64; ++i) mbox += "From a@b Mon Jan  1 10:00:00 2024\nSubject: x\n\n";
    scratch.write("mail.mbox", mbox);
    environment.insert(environment.end(), {"PIDFILE=" + file("pid"), "GOFILE=" + file("go")});
  }
};

TEST_F(HostProcess, FailuresGetTheirExitCode) {
  for (const Row& row : readTable("../../host/testdata/process_failures.txt")) {
    if (row[1] == "as" && addressSanitizer) continue;
    const HostRun result = runHostWith(
        scratch, arguments(row[0]), "", environment, [](pid_t) {},
        [&row] {
          const rlim_t size = row[1] == "as" ? 256 << 20 : 50000;
          const rlimit limit{size, size};
          if (row[1] == "full") dup2(open("/dev/full", O_WRONLY), 1);
          if (row[1] != "full") setrlimit(row[1] == "as" ? RLIMIT_AS : RLIMIT_FSIZE, &limit);
        });
    EXPECT_EQ(std::stoi(row[2]), result.exitCode) << row.where;
    EXPECT_NE(std::string::npos, result.errors.find(row[3])) << row.where << "\n" << result.errors;
    EXPECT_TRUE(tmpIsEmpty()) << row.where;
  }
}

// A signal mid-run reaches the filter and then ends zentry-host by that
// signal, with its directory removed and no filter left running, also while
// it is blocked writing to a reader that does not read; one that was ignored
// when it started stays ignored, by it and by the filter.
TEST_F(HostProcess, SignalsEndItAfterCleaningUp) {
  const std::map<std::string, int> signals{{"USR1", SIGUSR1}, {"ALRM", SIGALRM}, {"QUIT", SIGQUIT},
                                           {"TERM", SIGTERM}, {"INT", SIGINT},   {"HUP", SIGHUP}};
  for (const Row& row : readTable("../../host/testdata/signals.txt")) {
    const int signalNumber = signals.at(row[1]);
    const bool ignored = signalNumber == SIGHUP, loud = row[0].find("loud.sh") != std::string::npos;
    const HostRun result = runHostWith(
        scratch, arguments(row[0]), "", environment,
        [&](pid_t child) {
          // The whole line, not the file alone: the shell creates the file
          // before it writes, and a signal in between leaves it empty.
          const auto pidWritten = [&] { return scratch.read("pid").find('\n') != std::string::npos; };
          EXPECT_TRUE(waitFor([&] { return pidWritten() && (!loud || tmpIsEmpty()); }));
          kill(child, signalNumber);
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
          signal(signalNumber, ignored ? SIG_IGN : SIG_DFL);
          int unread[2];  // the read end stays open in the child: writes block, never fail
          if (!ignored && pipe(unread) == 0) dup2(unread[1], 1);
        });
    EXPECT_EQ(ignored ? 0 : signalNumber, result.signal) << row.where;
    EXPECT_EQ(ignored ? "ok\n" : "", result.output);
    EXPECT_NE(0, kill(std::stoi(scratch.read("pid")), 0)) << "the filter is left running";
    EXPECT_TRUE(tmpIsEmpty());
    std::filesystem::remove(file("pid"));
    std::filesystem::remove(file("go"));
  }
}

}  // namespace
}  // namespace zentry::test
