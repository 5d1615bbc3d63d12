#include "host/mailbox_reader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "host/maildir_reader.h"
#include "host/mbox_reader.h"

namespace zentry::host {

MailboxStatus MailboxReader::open(const std::string& path, std::unique_ptr<MailboxReader>* reader,
                                  std::string* error) {
  // The path named on the command line may be a link; only what lies inside
  // a maildir is never followed.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    const int reason = errno;
    *error = path + ": " + std::strerror(reason);
    return reason == ENOENT || reason == ENOTDIR ? MailboxStatus::missing : MailboxStatus::unreadable;
  }
  struct stat info {};
  if (fstat(fd, &info) != 0) {
    *error = path + ": " + std::strerror(errno);
    close(fd);
    return MailboxStatus::unreadable;
  }
  MailboxStatus status = MailboxStatus::ok;
  if (S_ISDIR(info.st_mode)) {
    close(fd);
    *reader = openMaildir(path, &status, error);
    return status;
  }
  *reader = openMbox(fd, path, &status, error);
  return status;
}

}  // namespace zentry::host
