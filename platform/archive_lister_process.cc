#include "platform/archive_lister_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
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
  int release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }

 private:
  int fd_;
};

std::int64_t nowMilliseconds() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

// Children are waited for: with SIGCHLD ignored the system would reap them
// unseen, and every wait would fail.
void takeChildSignalBack() {
  struct sigaction current {};
  if (sigaction(SIGCHLD, nullptr, &current) != 0) return;
  if (current.sa_handler != SIG_IGN && (current.sa_flags & SA_NOCLDWAIT) == 0) return;
  struct sigaction standard {};
  standard.sa_handler = SIG_DFL;
  sigemptyset(&standard.sa_mask);
  sigaction(SIGCHLD, &standard, nullptr);
}

// After fork, before exec: only async-signal-safe calls. `socket` becomes
// the child's standard input and output, `errors` its standard error, and
// `execFailed` (closed by a successful exec) receives errno if exec fails.
[[noreturn]] void becomeLister(const char* program, char* const* argv, int socket, int errors, int execFailed,
                               const ListerLimits& limits, pid_t parent) {
  // A filter killed while it waits takes its lister with it.
  prctl(PR_SET_PDEATHSIG, SIGKILL);
  if (getppid() != parent) _exit(127);
  // Out of the way first: any of them may hold 0 to 3 when the server
  // started us with those closed.
  socket = fcntl(socket, F_DUPFD, 10);
  errors = fcntl(errors, F_DUPFD, 10);
  execFailed = fcntl(execFailed, F_DUPFD, 10);
  if (socket < 0 || errors < 0 || execFailed < 0) _exit(127);
  if (dup2(socket, 0) < 0 || dup2(socket, 1) < 0 || dup2(errors, 2) < 0 || dup2(execFailed, 3) < 0)
    _exit(127);
  fcntl(3, F_SETFD, FD_CLOEXEC);
  close_range(4, ~0u, 0);
  // Past the soft CPU limit SIGXCPU kills it; the hard one a second later is a SIGKILL.
  const rlimit cpu{limits.cpuSeconds, limits.cpuSeconds + 1};
  const rlimit addressSpace{limits.addressSpaceBytes, limits.addressSpaceBytes};
  const rlimit noCore{0, 0};
  setrlimit(RLIMIT_CPU, &cpu);
  if (listerAddressSpaceLimited) setrlimit(RLIMIT_AS, &addressSpace);
  setrlimit(RLIMIT_CORE, &noCore);
  struct sigaction standard {};
  standard.sa_handler = SIG_DFL;
  sigemptyset(&standard.sa_mask);
  for (int signal = 1; signal < NSIG; ++signal) sigaction(signal, &standard, nullptr);
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
  // Nothing of the filter's environment (the subject among it) reaches the lister.
  char* const emptyEnvironment[] = {nullptr};
  execve(program, argv, emptyEnvironment);
  const int error = errno;
  [[maybe_unused]] const ssize_t told = write(3, &error, sizeof error);
  _exit(127);
}

// Waits until `socket` takes more bytes; false once the deadline passed or
// the wait failed.
bool waitWritable(int socket, std::int64_t deadline) {
  const std::int64_t left = deadline - nowMilliseconds();
  if (left <= 0) return false;
  pollfd writable = {socket, POLLOUT, 0};
  return poll(&writable, 1, static_cast<int>(left)) >= 0 || errno == EINTR;
}

// Sends all of [data, data + size) before the deadline; false when the
// lister went away, stopped reading, or the deadline passed.
bool sendAll(int socket, const char* data, std::size_t size, std::int64_t deadline) {
  while (size > 0) {
    const ssize_t sent = send(socket, data, size, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (sent > 0) {
      data += sent;
      size -= static_cast<std::size_t>(sent);
      continue;
    }
    if (sent < 0 && errno == EINTR) continue;
    if (sent < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return false;
    if (!waitWritable(socket, deadline)) return false;
  }
  return true;
}

// As sendAll, with `descriptor` riding on the first bytes sent.
bool sendWithDescriptor(int socket, const std::string& line, int descriptor, std::int64_t deadline) {
  std::string bytes = line;
  for (;;) {
    iovec part{&bytes[0], bytes.size()};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof descriptor)] = {};
    msghdr message{};
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    cmsghdr* header = CMSG_FIRSTHDR(&message);
    header->cmsg_level = SOL_SOCKET;
    header->cmsg_type = SCM_RIGHTS;
    header->cmsg_len = CMSG_LEN(sizeof descriptor);
    std::memcpy(CMSG_DATA(header), &descriptor, sizeof descriptor);
    const ssize_t sent = sendmsg(socket, &message, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (sent > 0)
      return sendAll(socket, bytes.data() + sent, bytes.size() - static_cast<std::size_t>(sent), deadline);
    if (sent < 0 && errno == EINTR) continue;
    if (sent == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) return false;
    if (!waitWritable(socket, deadline)) return false;
  }
}

// The attachment in a memory file for the lister to map: the bytes are
// copied once, into the file. -1 when the file cannot be made or filled.
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
  return file.release();
}

// Reads one answer, up to its "left" line, before the deadline; false when
// the lister went away, the answer is garbage or too long, or the deadline
// passed.
bool readAnswer(int socket, std::int64_t deadline, ListerReplyReader& reader) {
  std::size_t received = 0;
  char buffer[65536];
  while (!reader.complete()) {
    const std::int64_t left = deadline - nowMilliseconds();
    if (left <= 0) return false;
    pollfd answer = {socket, POLLIN, 0};
    if (poll(&answer, 1, static_cast<int>(left)) < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (answer.revents == 0) continue;
    const ssize_t got = recv(socket, buffer, sizeof buffer, MSG_DONTWAIT);
    if (got == 0) return false;
    if (got < 0) {
      if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) continue;
      return false;
    }
    received += static_cast<std::size_t>(got);
    if (received > maxListerReplyBytes || !reader.take(buffer, static_cast<std::size_t>(got))) return false;
  }
  return true;
}

std::string requestLine(const char* verb, const std::string& name, bool truncated,
                        const ExaminationBudget& budget, std::size_t size) {
  return verb + (' ' + escapeListerField(name)) + (truncated ? " 1 " : " 0 ") +
         std::to_string(budget.membersLeft) + ' ' + std::to_string(budget.decompressedBytesLeft) + ' ' +
         std::to_string(size) + '\n';
}

class ProcessListingSession : public ListingSession {
 public:
  ProcessListingSession(std::string program, ListerLimits limits, ListerHandOver handOver)
      : program_(std::move(program)), limits_(limits), handOver_(handOver) {}
  ~ProcessListingSession() override { stop(); }
  ProcessListingSession(const ProcessListingSession&) = delete;
  ProcessListingSession& operator=(const ProcessListingSession&) = delete;

  ListingResult list(const std::string& name, const unsigned char* data, std::size_t size, bool truncated,
                     ExaminationBudget& budget, ExaminationSink& sink) override;
  std::string fault() const override { return fault_; }

 private:
  ListingResult start();
  ListingResult cannotStart(const std::string& why);
  void stop();

  std::string program_;
  ListerLimits limits_;
  ListerHandOver handOver_;
  pid_t child_ = -1;
  Descriptor socket_;
  ListingResult state_ = ListingResult::Listed;  // how the last listing ended
  std::int64_t waited_ = 0;                      // milliseconds spent waiting for answers
  std::string fault_;
};

ListingResult ProcessListingSession::cannotStart(const std::string& why) {
  fault_ = "cannot start the archive lister " + program_ + ": " + why;
  return ListingResult::CannotStart;
}

ListingResult ProcessListingSession::start() {
  takeChildSignalBack();
  // Looked up at each message, not at start-up: exact mode never needs it,
  // and a lister shared by threads is never written to.
  if (program_.empty()) program_ = besideThisProgram("zentry-archive");
  if (program_.empty()) return cannotStart("this program's directory is unknown");
  // Everything the child needs is made before the fork.
  std::vector<std::string> arguments = {program_, "--requests"};
  std::vector<char*> argv;
  for (std::string& argument : arguments) argv.push_back(&argument[0]);
  argv.push_back(nullptr);
  int pair[2];
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) return cannotStart(std::strerror(errno));
  socket_.reset(pair[0]);
  Descriptor childSocket(pair[1]);
  int failure[2];
  if (pipe2(failure, O_CLOEXEC) != 0) return cannotStart(std::strerror(errno));
  Descriptor execFailed(failure[0]);
  Descriptor childExecFailed(failure[1]);
  Descriptor devNull(open("/dev/null", O_WRONLY | O_CLOEXEC));
  if (devNull.get() < 0) return cannotStart(std::strerror(errno));
  const pid_t parent = getpid();
  const pid_t child = fork();
  if (child < 0) return cannotStart(std::strerror(errno));
  if (child == 0) {
    becomeLister(argv[0], argv.data(), childSocket.get(), devNull.get(), childExecFailed.get(), limits_,
                 parent);
  }
  child_ = child;
  childSocket.close();
  childExecFailed.close();
  devNull.close();
  // The pipe closes at a successful exec; before that, an errno arrives.
  int error = 0;
  ssize_t got = 0;
  do {
    got = read(execFailed.get(), &error, sizeof error);
  } while (got < 0 && errno == EINTR);
  if (got == static_cast<ssize_t>(sizeof error)) {
    stop();
    return cannotStart(std::strerror(error));
  }
  return ListingResult::Listed;
}

void ProcessListingSession::stop() {
  socket_.close();
  if (child_ < 0) return;
  // It has nothing left to finish: whatever it was doing is given up.
  kill(child_, SIGKILL);
  int status = 0;
  while (waitpid(child_, &status, 0) < 0 && errno == EINTR) {
  }
  child_ = -1;
}

ListingResult ProcessListingSession::list(const std::string& name, const unsigned char* data,
                                          std::size_t size, bool truncated, ExaminationBudget& budget,
                                          ExaminationSink& sink) {
  if (state_ != ListingResult::Listed) return state_;
  if (child_ < 0) {
    state_ = start();
    if (state_ != ListingResult::Listed) return state_;
  }
  if (size > maxListedAttachmentBytes) {
    size = maxListedAttachmentBytes;
    truncated = true;
  }
  // Without a memory file the bytes go on the socket: slower, never skipped.
  const Descriptor file(handOver_ == ListerHandOver::MemoryFile && size > 0 ? memoryFileHolding(data, size)
                                                                            : -1);
  const std::int64_t begin = nowMilliseconds();
  const std::int64_t deadline = begin + std::max<std::int64_t>(0, limits_.wallMilliseconds - waited_);
  const std::string request = requestLine(file.get() >= 0 ? "map" : "list", name, truncated, budget, size);
  ListerReplyReader reader(sink);
  const bool sent = file.get() >= 0
                        ? sendWithDescriptor(socket_.get(), request, file.get(), deadline)
                        : sendAll(socket_.get(), request.data(), request.size(), deadline) &&
                              sendAll(socket_.get(), reinterpret_cast<const char*>(data), size, deadline);
  const bool answered = sent && readAnswer(socket_.get(), deadline, reader);
  waited_ += nowMilliseconds() - begin;
  if (!answered) {
    stop();
    return state_ = ListingResult::Failed;
  }
  // The lister can only spend the budget; an answer claiming more is not believed.
  budget.membersLeft = std::min(budget.membersLeft, reader.left().membersLeft);
  budget.decompressedBytesLeft = std::min(budget.decompressedBytesLeft, reader.left().decompressedBytesLeft);
  return ListingResult::Listed;
}

}  // namespace

ProcessArchiveLister::ProcessArchiveLister(std::string program, ListerLimits limits, ListerHandOver handOver)
    : program_(std::move(program)), limits_(limits), handOver_(handOver) {
  takeChildSignalBack();
}

std::unique_ptr<ListingSession> ProcessArchiveLister::startSession() {
  return std::make_unique<ProcessListingSession>(program_, limits_, handOver_);
}

std::string besideThisProgram(const std::string& program) {
  char path[4096];
  const ssize_t length = readlink("/proc/self/exe", path, sizeof path);
  if (length <= 0 || static_cast<std::size_t>(length) >= sizeof path) return "";
  const std::string self(path, static_cast<std::size_t>(length));
  const std::size_t slash = self.rfind('/');
  if (slash == std::string::npos) return "";
  return self.substr(0, slash + 1) + program;
}

}  // namespace zentry
