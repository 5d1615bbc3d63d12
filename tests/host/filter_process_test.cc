// zentry-host as a process among others: what happens to its working
// directories, its filter and its exit code when it is signalled, runs out of
// resources or cannot write.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "host/host_runner.h"

namespace zentry::test {
namespace {

using HostProcess = HostFixture;

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

}  // namespace
}  // namespace zentry::test
