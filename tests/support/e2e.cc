#include "support/e2e.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace zentry::test {

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "zentry-test-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

void TempDir::write(const std::string& name, const std::string& bytes) const {
  std::ofstream file(path_ + "/" + name, std::ios::binary | std::ios::trunc);
  file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string TempDir::read(const std::string& name) const {
  std::ifstream file(path_ + "/" + name, std::ios::binary);
  std::ostringstream bytes;
  bytes << file.rdbuf();
  return bytes.str();
}

bool TempDir::exists(const std::string& name) const { return std::filesystem::exists(path_ + "/" + name); }

RunResult runBinary(const TempDir& directory, const std::vector<std::string>& arguments,
                    const std::vector<std::string>& environment) {
  return runProgram(ZENTRY_BINARY, directory, arguments, environment);
}

RunResult runProgram(const std::string& program, const TempDir& directory,
                     const std::vector<std::string>& arguments, const std::vector<std::string>& environment) {
  const std::string outputPath = directory.path() + "/.stdout";
  std::vector<std::string> argv{program};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  std::vector<char*> argvPointers;
  for (std::string& argument : argv) argvPointers.push_back(argument.data());
  argvPointers.push_back(nullptr);
  std::vector<std::string> env = environment;
  // Sanitizer builds need their options passed on.
  for (const char* name : {"ASAN_OPTIONS", "UBSAN_OPTIONS"}) {
    if (const char* value = std::getenv(name)) env.push_back(std::string(name) + "=" + value);
  }
  std::vector<char*> envPointers;
  for (std::string& entry : env) envPointers.push_back(entry.data());
  envPointers.push_back(nullptr);

  const pid_t child = fork();
  if (child == 0) {
    const int out = open(outputPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (out < 0 || dup2(out, STDOUT_FILENO) < 0 || chdir(directory.path().c_str()) != 0) _exit(127);
    // A run that loops must fail its test within seconds, not at ctest's own
    // time-out: the alarm outlives the exec and ends the child.
    alarm(runTimeLimitSeconds);
    execve(argvPointers[0], argvPointers.data(), envPointers.data());
    _exit(127);
  }
  RunResult result;
  int status = 0;
  if (child > 0 && waitpid(child, &status, 0) == child) {
    if (WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
    result.timedOut = WIFSIGNALED(status) && WTERMSIG(status) == SIGALRM;
  }
  result.output = directory.read(".stdout");
  std::filesystem::remove(outputPath);
  return result;
}

std::string crlf(const std::string& text) {
  std::string out;
  for (const char byte : text) {
    if (byte == '\n') out += '\r';
    out += byte;
  }
  return out;
}

}  // namespace zentry::test
