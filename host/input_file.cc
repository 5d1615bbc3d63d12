#include "host/input_file.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "host/filter_process.h"

namespace zentry::host {
namespace {

bool readToEnd(int fd, std::string* bytes) {
  char chunk[65536];
  for (;;) {
    const ssize_t got = read(fd, chunk, sizeof chunk);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return false;
    if (got == 0) return true;
    bytes->append(chunk, static_cast<std::size_t>(got));
  }
}

}  // namespace

long readUnlessInterrupted(int fd, char* buffer, std::size_t size) {
  for (;;) {
    if (interrupted()) {
      errno = EINTR;
      return -1;
    }
    // poll is never restarted after a handler, and its timeout covers a
    // signal that comes between the check above and the wait.
    pollfd ready{fd, POLLIN, 0};
    if (poll(&ready, 1, 200) <= 0) continue;  // a timeout, or a signal to look at
    const ssize_t got = read(fd, buffer, size);
    if (got < 0 && errno == EINTR) continue;
    return got;
  }
}

std::string inputName(const std::string& path) { return path == "-" ? "standard input" : path; }

ReadStatus openInputFile(const std::string& path, int* fd, std::string* error) {
  if (path == "-") {
    *fd = STDIN_FILENO;
    return ReadStatus::ok;
  }
  *fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (*fd < 0) {
    const int reason = errno;
    *error = path + ": " + std::strerror(reason);
    return reason == ENOENT || reason == ENOTDIR ? ReadStatus::missing : ReadStatus::unreadable;
  }
  struct stat info {};
  if (fstat(*fd, &info) == 0 && S_ISDIR(info.st_mode)) {
    close(*fd);
    *fd = -1;
    *error = path + ": is a directory";
    return ReadStatus::unreadable;
  }
  return ReadStatus::ok;
}

ReadStatus readInputFile(const std::string& path, std::string* bytes, std::string* error) {
  bytes->clear();
  int fd = -1;
  const ReadStatus opened = openInputFile(path, &fd, error);
  if (opened != ReadStatus::ok) return opened;
  const bool ok = readToEnd(fd, bytes);
  const int reason = errno;
  if (fd != STDIN_FILENO) close(fd);
  if (ok) return ReadStatus::ok;
  *error = path == "-" ? std::string("cannot read standard input: ") + std::strerror(reason)
                       : path + ": " + std::strerror(reason);
  return ReadStatus::unreadable;
}

}  // namespace zentry::host
