#include "platform/archive_lister_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <string>
#include <vector>

#include "scanner/archive_limits.h"

namespace zentry {
namespace {

class Descriptor {
 public:
  explicit Descriptor(int fd = -1) : fd_(fd) {}
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  ~Descriptor() { close(); }
  int get() const { return fd_; }
  void reset(int fd) {
    close();
    fd_ = fd;
  }
  void close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }
  void release() { fd_ = -1; }

 private:
  int fd_;
};

std::int64_t nowMilliseconds() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

// Makes `fd` the child's descriptor `target`, open across exec.
void placeInChild(int fd, int target) {
  if (fd == target) {
    fcntl(fd, F_SETFD, 0);
  } else {
    dup2(fd, target);
  }
}

// After fork, before exec: only async-signal-safe calls.
[[noreturn]] void becomeLister(const std::vector<char*>& argv, int input, int output, int errors,
                               const ListerLimits& limits, pid_t parent) {
  // A filter killed while it waits takes its lister with it.
  prctl(PR_SET_PDEATHSIG, SIGKILL);
  if (getppid() != parent) _exit(127);
  placeInChild(input, 0);
  placeInChild(output, 1);
  placeInChild(errors, 2);
  close_range(3, ~0u, 0);
  // Past the soft CPU limit SIGXCPU kills it; the hard one a second later is a SIGKILL.
  const rlimit cpu{limits.cpuSeconds, limits.cpuSeconds + 1};
  const rlimit addressSpace{limits.addressSpaceBytes, limits.addressSpaceBytes};
  const rlimit noCore{0, 0};
  setrlimit(RLIMIT_CPU, &cpu);
  if (listerAddressSpaceLimited) setrlimit(RLIMIT_AS, &addressSpace);
  setrlimit(RLIMIT_CORE, &noCore);
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
  signal(SIGPIPE, SIG_DFL);
  execv(argv[0], argv.data());
  _exit(127);
}

// Waits for the child until the deadline, then kills it; always reaps it.
// Returns its wait status.
int reap(pid_t child, std::int64_t deadline) {
  int status = 0;
  for (;;) {
    const pid_t done = waitpid(child, &status, WNOHANG);
    if (done == child) return status;
    if (done < 0 && errno != EINTR) return -1;
    if (nowMilliseconds() >= deadline) break;
    const timespec pause{0, 200 * 1000};
    nanosleep(&pause, nullptr);
  }
  kill(child, SIGKILL);
  while (waitpid(child, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return -1;  // killed by us: a failure whatever it had said
}

// The attachment as a memory file, at offset 0, for the lister's standard
// input: the lister maps it, so the bytes are copied once, into the file,
// and never stall on a pipe. -1 when the file cannot be made or filled.
int memoryFileHolding(const unsigned char* data, std::size_t size) {
  Descriptor file(memfd_create("zentry-attachment", MFD_CLOEXEC));
  if (file.get() < 0) return -1;
  std::size_t written = 0;
  while (written < size) {
    const ssize_t step = write(file.get(), data + written, size - written);
    if (step < 0 && errno == EINTR) continue;
    if (step <= 0) return -1;
    written += static_cast<std::size_t>(step);
  }
  if (lseek(file.get(), 0, SEEK_SET) != 0) return -1;
  const int fd = file.get();
  file.release();
  return fd;
}

// Reads the answer until the lister closes its output, the deadline passes
// or the answer grows past its bound. True when the answer ended by the
// lister closing its output.
bool readAnswer(Descriptor& output, std::int64_t deadline, ListerReplyReader& reader) {
  fcntl(output.get(), F_SETFL, O_NONBLOCK);
  std::size_t received = 0;
  char buffer[65536];
  for (;;) {
    const std::int64_t left = deadline - nowMilliseconds();
    if (left <= 0) return false;
    pollfd answer = {output.get(), POLLIN, 0};
    if (poll(&answer, 1, static_cast<int>(left)) < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (answer.revents == 0) continue;
    const ssize_t got = read(output.get(), buffer, sizeof buffer);
    if (got == 0) return true;
    if (got < 0) {
      if (errno == EAGAIN || errno == EINTR) continue;
      return false;
    }
    received += static_cast<std::size_t>(got);
    if (received > maxListerReplyBytes || !reader.take(buffer, static_cast<std::size_t>(got))) return false;
  }
}

}  // namespace

std::string besideThisProgram(const std::string& program) {
  char path[4096];
  const ssize_t length = readlink("/proc/self/exe", path, sizeof path);
  if (length <= 0 || static_cast<std::size_t>(length) >= sizeof path) return "";
  const std::string self(path, static_cast<std::size_t>(length));
  const std::size_t slash = self.rfind('/');
  if (slash == std::string::npos) return "";
  return self.substr(0, slash + 1) + program;
}

bool ProcessArchiveLister::list(const std::string& name, const unsigned char* data, std::size_t size,
                                bool truncated, ExaminationBudget& budget, ExaminationSink& sink) {
  // Looked up at each archive, not at start-up: exact mode never needs it,
  // and a lister shared by threads is never written to.
  const std::string program = program_.empty() ? besideThisProgram("zentry-archive") : program_;
  if (program.empty()) return false;
  if (size > maxListedAttachmentBytes) {
    size = maxListedAttachmentBytes;
    truncated = true;
  }
  // Everything the child needs is made before the fork.
  std::vector<std::string> arguments = {program, escapeListerField(name), truncated ? "1" : "0",
                                        std::to_string(budget.membersLeft),
                                        std::to_string(budget.decompressedBytesLeft)};
  std::vector<char*> argv;
  for (std::string& argument : arguments) argv.push_back(&argument[0]);
  argv.push_back(nullptr);

  Descriptor childInput(memoryFileHolding(data, size));
  if (childInput.get() < 0) return false;
  int outputPipe[2];
  if (pipe2(outputPipe, O_CLOEXEC) != 0) return false;
  Descriptor output(outputPipe[0]);
  Descriptor childOutput(outputPipe[1]);
  Descriptor devNull(open("/dev/null", O_WRONLY | O_CLOEXEC));
  if (devNull.get() < 0) return false;

  const std::int64_t deadline = nowMilliseconds() + limits_.wallMilliseconds;
  const pid_t parent = getpid();
  const pid_t child = fork();
  if (child < 0) return false;
  if (child == 0) becomeLister(argv, childInput.get(), childOutput.get(), devNull.get(), limits_, parent);
  childInput.close();
  childOutput.close();
  devNull.close();

  ListerReplyReader reader(sink);
  const bool ended = readAnswer(output, deadline, reader);
  output.close();
  const int status = reap(child, ended ? deadline : 0);
  if (!ended || status < 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0 || !reader.complete())
    return false;
  // The lister can only spend the budget; an answer claiming more is not believed.
  budget.membersLeft = std::min(budget.membersLeft, reader.left().membersLeft);
  budget.decompressedBytesLeft = std::min(budget.decompressedBytesLeft, reader.left().decompressedBytesLeft);
  return true;
}

}  // namespace zentry
