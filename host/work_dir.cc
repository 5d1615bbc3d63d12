#include "host/work_dir.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <vector>

namespace zentry::host {

std::string tmpDirectory() {
  const char* base = std::getenv("TMPDIR");
  return base != nullptr && *base != '\0' ? base : "/tmp";
}

std::unique_ptr<WorkDir> WorkDir::create(std::string* error) {
  std::string pattern = tmpDirectory() + "/zentry-host.XXXXXX";
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  if (mkdtemp(buffer.data()) == nullptr) {
    *error = "cannot create a working directory from " + pattern + ": " + std::strerror(errno);
    return nullptr;
  }
  return std::unique_ptr<WorkDir>(new WorkDir(buffer.data()));
}

WorkDir::~WorkDir() {
  std::error_code ignored;
  try {
    std::filesystem::remove_all(path_, ignored);
  } catch (...) {
    // Out of memory for the walk. The filter makes files only, and these
    // calls allocate nothing that could throw.
    if (DIR* dir = opendir(path_.c_str())) {
      while (const dirent* entry = readdir(dir)) unlinkat(dirfd(dir), entry->d_name, 0);
      closedir(dir);
    }
    rmdir(path_.c_str());
  }
}

bool WorkDir::writeFile(const std::string& name, const std::string& bytes, std::string* error) const {
  const std::string file = path_ + "/" + name;
  const int fd = open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) {
    *error = "cannot create " + file + ": " + std::strerror(errno);
    return false;
  }
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t wrote = write(fd, bytes.data() + done, bytes.size() - done);
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) {
      *error = "cannot write " + file + ": " + std::strerror(errno);
      close(fd);
      return false;
    }
    done += static_cast<std::size_t>(wrote);
  }
  if (close(fd) != 0) {
    *error = "cannot write " + file + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

std::string WorkDir::readFile(const std::string& name) const {
  std::string bytes;
  const int fd = open((path_ + "/" + name).c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return bytes;
  char chunk[65536];
  for (;;) {
    const ssize_t got = read(fd, chunk, sizeof chunk);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    bytes.append(chunk, static_cast<std::size_t>(got));
  }
  close(fd);
  return bytes;
}

void WorkDir::removeFile(const std::string& name) const { unlink((path_ + "/" + name).c_str()); }

std::string routingFileBytes(const std::string& message) {
  // The filter never reads these four bytes; the server keeps its own data there.
  return "XXXX" + message;
}

}  // namespace zentry::host
