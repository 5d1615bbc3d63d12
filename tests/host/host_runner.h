#pragma once

// Runs the built zentry-host with chosen arguments, standard input and
// environment, and collects both output streams and the exit code.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "support/e2e.h"

namespace zentry::test {

struct HostRun {
  std::string output;
  std::string errors;
  int exitCode = -1;  ///< -1 when it did not exit normally
  int signal = 0;     ///< the signal that ended it, if one did
};

/// `environment` entries ("NAME=value") are added to PATH and the sanitizer
/// options; `onStarted` runs in the parent once the child exists, `inChild`
/// in the child just before the exec (limits, signals, other output files).
inline HostRun runHostWith(const TempDir& scratch, const std::vector<std::string>& arguments,
                           const std::string& input, const std::vector<std::string>& environment,
                           const std::function<void(pid_t)>& onStarted = {},
                           const std::function<void()>& inChild = {}) {
  scratch.write(".stdin", input);
  const std::string outPath = scratch.path() + "/.stdout";
  const std::string errPath = scratch.path() + "/.stderr";
  const std::string inPath = scratch.path() + "/.stdin";
  std::vector<std::string> argv{ZENTRY_HOST_BINARY};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  std::vector<std::string> env = environment;
  for (const char* name : {"PATH", "ASAN_OPTIONS", "UBSAN_OPTIONS"}) {
    if (const char* value = std::getenv(name)) env.push_back(std::string(name) + "=" + value);
  }
  std::vector<char*> argvPointers, envPointers;
  for (std::string& a : argv) argvPointers.push_back(a.data());
  for (std::string& e : env) envPointers.push_back(e.data());
  argvPointers.push_back(nullptr), envPointers.push_back(nullptr);
  const pid_t child = fork();
  if (child == 0) {
    const int in = open(inPath.c_str(), O_RDONLY);
    const int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (in < 0 || out < 0 || err < 0 || dup2(in, 0) < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0) _exit(126);
    if (inChild) inChild();
    execve(argvPointers[0], argvPointers.data(), envPointers.data());
    _exit(127);
  }
  if (onStarted) onStarted(child);
  HostRun run;
  int status = 0;
  if (child > 0 && waitpid(child, &status, 0) == child) {
    if (WIFEXITED(status)) run.exitCode = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) run.signal = WTERMSIG(status);
  }
  run.output = scratch.read(".stdout");
  run.errors = scratch.read(".stderr");
  return run;
}

// A scratch directory with its own TMPDIR, so the test sees every working
// directory zentry-host makes.
struct HostFixture : ::testing::Test {
  TempDir scratch;
  std::string tmp = scratch.path() + "/tmp";
  std::vector<std::string> environment{"TMPDIR=" + tmp};
  void SetUp() override { std::filesystem::create_directory(tmp); }
  std::string file(const std::string& name) const { return scratch.path() + "/" + name; }
  bool tmpIsEmpty() const { return std::filesystem::is_empty(tmp); }
  HostRun host(const std::vector<std::string>& arguments, const std::string& input = "") {
    return runHostWith(scratch, arguments, input, environment);
  }
};

}  // namespace zentry::test
