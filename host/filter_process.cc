#include "host/filter_process.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <filesystem>

namespace zentry::host {
namespace {

std::atomic<pid_t> runningChildren[maxSlots];
// Atomics of int and pid_t are lock-free, so handlers may touch them.
std::atomic<int> receivedSignal{0};

void passSignalOn(int signalNumber) {
  receivedSignal.store(signalNumber);
  for (std::atomic<pid_t>& child : runningChildren) {
    const pid_t pid = child.load();
    if (pid > 0) kill(pid, signalNumber);
  }
}

void ignoreSignal(int) {}

// Every signal whose default action ends the process, but those that only a
// fault of our own raises (SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP, SIGSYS,
// SIGABRT) and SIGKILL, which no handler sees. SIGPIPE and SIGXFSZ are left
// to installSignalHandlers.
std::vector<int> endingSignals() {
  std::vector<int> signals{SIGHUP,  SIGINT,    SIGQUIT, SIGTERM, SIGUSR1, SIGUSR2,
                           SIGALRM, SIGVTALRM, SIGPROF, SIGXCPU, SIGIO};
#ifdef SIGPWR
  signals.push_back(SIGPWR);
#endif
#ifdef SIGSTKFLT
  signals.push_back(SIGSTKFLT);
#endif
  for (int number = SIGRTMIN; number <= SIGRTMAX; ++number) signals.push_back(number);
  return signals;
}

// Set before any thread starts and read after they end.
std::vector<int> handledSignals;

bool isSubjectName(const std::string& entry) {
  static const char name[] = "subject=";
  if (entry.size() < sizeof name - 1) return false;
  for (std::size_t i = 0; i < sizeof name - 1; ++i) {
    char c = entry[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != name[i]) return false;
  }
  return true;
}

std::vector<char*> pointers(std::vector<std::string>& texts) {
  std::vector<char*> result;
  for (std::string& text : texts) result.push_back(text.data());
  result.push_back(nullptr);
  return result;
}

void readAll(int fd, std::string* bytes) {
  char chunk[16384];
  for (;;) {
    const ssize_t got = read(fd, chunk, sizeof chunk);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return;
    bytes->append(chunk, static_cast<std::size_t>(got));
  }
}

pid_t waitFor(pid_t child, int* status = nullptr) {
  pid_t waited;
  do waited = waitpid(child, status, 0);
  while (waited < 0 && errno == EINTR);
  return waited;
}

}  // namespace

std::vector<std::string> filterEnvironment(const std::vector<std::string>& inherited,
                                           const std::optional<std::string>& subject) {
  std::vector<std::string> environment;
  for (const std::string& entry : inherited) {
    if (!isSubjectName(entry)) environment.push_back(entry);
  }
  if (subject) environment.push_back("subject=" + *subject);
  return environment;
}

FilterResult runFilter(const FilterRequest& request, int slot) {
  FilterResult result;
  if (interrupted()) {
    result.error = "interrupted";
    return result;
  }
  std::vector<std::string> argv{request.program};
  argv.insert(argv.end(), request.arguments.begin(), request.arguments.end());
  std::vector<std::string> inherited;
  for (char** entry = environ; *entry != nullptr; ++entry) inherited.emplace_back(*entry);
  std::vector<std::string> envp = filterEnvironment(inherited, request.subject);
  const std::vector<char*> argvPointers = pointers(argv);
  const std::vector<char*> envpPointers = pointers(envp);

  int output[2];
  if (pipe2(output, O_CLOEXEC) != 0) {
    result.error = std::string("cannot make a pipe: ") + std::strerror(errno);
    return result;
  }
  // posix_spawn shares our memory until the exec instead of copying it, which
  // keeps a replay holding a large mailbox fast, and reports exec failures
  // itself. It is safe to call from several threads at once.
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, output[1], STDOUT_FILENO);
  posix_spawn_file_actions_addchdir_np(&actions, request.directory.c_str());
  pid_t child = 0;
  const int failure =
      posix_spawn(&child, argvPointers[0], &actions, nullptr, argvPointers.data(), envpPointers.data());
  posix_spawn_file_actions_destroy(&actions);
  close(output[1]);
  if (failure != 0) {
    result.error = "cannot run " + request.program + ": " + std::strerror(failure);
    result.unusable = failure == ENOENT || failure == ENOTDIR || failure == EACCES || failure == ENOEXEC ||
                      failure == EISDIR || failure == ELOOP || failure == ENAMETOOLONG;
    close(output[0]);
    return result;
  }
  runningChildren[slot].store(child);
  // A signal that came just before the store would otherwise miss this child.
  if (const int pending = receivedSignal.load()) kill(child, pending);
  try {
    readAll(output[0], &result.output);
  } catch (...) {
    // Out of memory for its output: the filter must not outlive this run.
    kill(child, SIGKILL);
    close(output[0]);
    waitFor(child);
    runningChildren[slot].store(0);
    throw;
  }
  close(output[0]);
  int status = 0;
  const pid_t waited = waitFor(child, &status);
  runningChildren[slot].store(0);
  if (waited == child && WIFEXITED(status)) {
    result.status = FilterResult::Status::exited;
    result.exitCode = WEXITSTATUS(status);
  } else if (waited == child && WIFSIGNALED(status)) {
    result.status = FilterResult::Status::killed;
    result.signal = WTERMSIG(status);
  } else {
    result.error = "lost track of the filter process";
  }
  return result;
}

void installSignalHandlers() {
  struct sigaction passOn {};
  passOn.sa_handler = passSignalOn;
  sigemptyset(&passOn.sa_mask);
  passOn.sa_flags = SA_RESTART;
  struct sigaction ignore = passOn;
  ignore.sa_handler = ignoreSignal;
  for (const int signalNumber : endingSignals()) {
    struct sigaction given {};
    // Ignored by whoever started us (nohup ignores SIGHUP): it stays ignored,
    // here and in the filter, which inherits it.
    if (sigaction(signalNumber, nullptr, &given) != 0 || given.sa_handler == SIG_IGN) continue;
    sigaction(signalNumber, &passOn, nullptr);
    handledSignals.push_back(signalNumber);
  }
  // A write to a closed pipe or past the file size limit must fail with
  // EPIPE or EFBIG, an error we report, instead of killing us with the
  // directories left behind. A handler, unlike SIG_IGN, is not inherited:
  // the filter gets these signals as we were given them.
  for (const int signalNumber : {SIGPIPE, SIGXFSZ}) {
    struct sigaction given {};
    if (sigaction(signalNumber, nullptr, &given) == 0 && given.sa_handler != SIG_IGN)
      sigaction(signalNumber, &ignore, nullptr);
  }
}

bool interrupted() { return receivedSignal.load() != 0; }

void reraiseIfInterrupted() {
  // Nothing is left to clean up now: from here on a signal ends the process
  // at once, even while it is blocked writing to a reader that does not read.
  for (const int signalNumber : handledSignals) std::signal(signalNumber, SIG_DFL);
  handledSignals.clear();
  if (const int signalNumber = receivedSignal.load()) raise(signalNumber);
}

std::string defaultFilterPath() {
  std::error_code failure;
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", failure);
  if (failure) return "zentry";
  return (self.parent_path() / "zentry").string();
}

std::string findFilterProgram(const std::string& given, std::string* error) {
  std::error_code failure;
  const std::filesystem::path program =
      std::filesystem::absolute(given.empty() ? defaultFilterPath() : given, failure);
  if (failure) {
    *error = given + ": " + failure.message();
    return "";
  }
  struct stat info {};
  if (stat(program.c_str(), &info) != 0 || access(program.c_str(), X_OK) != 0) {
    *error = program.string() + ": " + std::strerror(errno);
    return "";
  }
  // access() grants root every directory, and exec refuses them all.
  if (!S_ISREG(info.st_mode)) {
    *error = program.string() + ": not a program file";
    return "";
  }
  return program.string();
}

}  // namespace zentry::host
