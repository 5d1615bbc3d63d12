#include "host/input_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace zentry::host {
namespace {

bool readAll(int fd, std::string* bytes) {
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

ReadStatus readInputFile(const std::string& path, std::string* bytes, std::string* error) {
  bytes->clear();
  if (path == "-") {
    if (readAll(STDIN_FILENO, bytes)) return ReadStatus::ok;
    *error = std::string("cannot read standard input: ") + std::strerror(errno);
    return ReadStatus::unreadable;
  }
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    const int reason = errno;
    *error = path + ": " + std::strerror(reason);
    return reason == ENOENT || reason == ENOTDIR ? ReadStatus::missing : ReadStatus::unreadable;
  }
  struct stat info {};
  if (fstat(fd, &info) == 0 && S_ISDIR(info.st_mode)) {
    close(fd);
    *error = path + ": is a directory";
    return ReadStatus::unreadable;
  }
  const bool ok = readAll(fd, bytes);
  const int reason = errno;
  close(fd);
  if (ok) return ReadStatus::ok;
  *error = path + ": " + std::strerror(reason);
  return ReadStatus::unreadable;
}

}  // namespace zentry::host
