#include "host/maildir_reader.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "host/message_text.h"

namespace zentry::host {
namespace {

const char* const folders[] = {"cur", "new"};

struct Entry {
  int folder;  // index into folders
  std::string name;
};

class MaildirReader : public MailboxReader {
 public:
  explicit MaildirReader(std::string root) : root_(std::move(root)) {}
  ~MaildirReader() override {
    for (const int fd : folderFds_) {
      if (fd >= 0) close(fd);
    }
  }
  [[nodiscard]] MailboxStatus list(std::string* error);
  Next next(RoutingWriter& writer, std::string* id, std::string* problem) override;

 private:
  [[nodiscard]] bool listFolder(int folder, std::string* error);
  Next store(const Entry& entry, RoutingWriter& writer, std::string* problem);

  std::string root_;
  int folderFds_[2] = {-1, -1};
  std::vector<Entry> entries_;
  std::vector<std::string> refusedFolders_;
  std::size_t nextEntry_ = 0;
};

bool MaildirReader::listFolder(int folder, std::string* error) {
  DIR* dir = fdopendir(dup(folderFds_[folder]));
  if (dir == nullptr) {
    *error = root_ + "/" + folders[folder] + ": " + std::strerror(errno);
    return false;
  }
  errno = 0;
  while (const dirent* item = readdir(dir)) {
    if (item->d_name[0] != '.') entries_.push_back({folder, item->d_name});
  }
  const int reason = errno;
  closedir(dir);
  if (reason != 0) *error = root_ + "/" + folders[folder] + ": " + std::strerror(reason);
  return reason == 0;
}

MailboxStatus MaildirReader::list(std::string* error) {
  const int root = ::open(root_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (root < 0) {
    *error = root_ + ": " + std::strerror(errno);
    return MailboxStatus::unreadable;
  }
  bool any = false;
  for (int folder = 0; folder < 2; ++folder) {
    folderFds_[folder] = openat(root, folders[folder], O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (folderFds_[folder] >= 0) {
      any = true;
    } else if (struct stat link{};
               fstatat(root, folders[folder], &link, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(link.st_mode)) {
      refusedFolders_.push_back(root_ + "/" + folders[folder] + ": a symbolic link, not followed");
      any = true;
    }
  }
  close(root);
  if (!any) {
    *error = root_ + ": not a maildir (it has neither cur/ nor new/)";
    return MailboxStatus::notMailbox;
  }
  for (int folder = 0; folder < 2; ++folder) {
    if (folderFds_[folder] >= 0 && !listFolder(folder, error)) return MailboxStatus::unreadable;
  }
  std::sort(entries_.begin(), entries_.end(), [](const Entry& a, const Entry& b) {
    return a.name != b.name ? a.name < b.name : a.folder < b.folder;
  });
  total_.store(entries_.size());
  return MailboxStatus::ok;
}

MailboxReader::Next MaildirReader::store(const Entry& entry, RoutingWriter& writer, std::string* problem) {
  const int folderFd = folderFds_[entry.folder];
  struct stat info {};
  if (fstatat(folderFd, entry.name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
    *problem = std::strerror(errno);
    return Next::skipped;
  }
  if (S_ISLNK(info.st_mode)) {
    *problem = "a symbolic link, not followed";
    return Next::skipped;
  }
  if (!S_ISREG(info.st_mode)) {
    *problem = "not a regular file";
    return Next::skipped;
  }
  // O_NOFOLLOW and O_NONBLOCK: a file swapped for a link or a FIFO since the
  // look above is refused or found out below, never waited on.
  const int fd =
      openat(folderFd, entry.name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0 || fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    *problem = fd < 0 ? std::strerror(errno) : "not a regular file";
    if (fd >= 0) close(fd);
    return Next::skipped;
  }
  char head[4096];
  const ssize_t got = pread(fd, head, sizeof head, 0);
  Next result = Next::message;
  if (got <= 0) {
    *problem = got == 0 ? "empty file" : std::strerror(errno);
    result = Next::skipped;
  } else if (!looksLikeMessage(std::string(head, static_cast<std::size_t>(got)))) {
    *problem = "not a mail message (no header field on its first line)";
    result = Next::skipped;
  } else {
    switch (copyMessage(fd, writer, problem)) {
      case CopyStatus::ok:
        break;
      case CopyStatus::empty:
        *problem = "empty file";
        result = Next::skipped;
        break;
      case CopyStatus::readFailed:
        result = Next::skipped;
        break;
      case CopyStatus::writeFailed:
        result = Next::failed;
        break;
    }
  }
  close(fd);
  return result;
}

MailboxReader::Next MaildirReader::next(RoutingWriter& writer, std::string* id, std::string* problem) {
  if (!refusedFolders_.empty()) {
    *id = root_;
    *problem = refusedFolders_.back();
    refusedFolders_.pop_back();
    return Next::skipped;
  }
  if (nextEntry_ == entries_.size()) return Next::end;
  const Entry& entry = entries_[nextEntry_++];
  done_.store(nextEntry_);
  *id = std::string(folders[entry.folder]) + "/" + entry.name;
  const Next result = store(entry, writer, problem);
  if (result == Next::skipped) *problem = root_ + "/" + *id + ": " + *problem;
  return result;
}

}  // namespace

std::unique_ptr<MailboxReader> openMaildir(const std::string& path, MailboxStatus* status,
                                           std::string* error) {
  auto reader = std::make_unique<MaildirReader>(path);
  *status = reader->list(error);
  if (*status != MailboxStatus::ok) return nullptr;
  return reader;
}

}  // namespace zentry::host
