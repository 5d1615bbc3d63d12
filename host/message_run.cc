#include "host/message_run.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "host/host_inputs.h"

namespace zentry::host {

FilterResult runMessage(const WorkDir& dir, const std::string& filterPath, const std::string& message,
                        const std::optional<std::string>& subject, const std::vector<std::string>& arguments,
                        int slot) {
  FilterResult result;
  if (!dir.writeFile("routing.dat", routingFileBytes(message), &result.error)) return result;
  return runStoredMessage(dir, filterPath, subject, arguments, slot);
}

FilterResult runStoredMessage(const WorkDir& dir, const std::string& filterPath,
                              const std::optional<std::string>& subject,
                              const std::vector<std::string>& arguments, int slot) {
  // The filter appends to its log; a reused directory must not mix two runs.
  dir.removeFile("zentry.log");
  return runFilter(FilterRequest{filterPath, dir.path(), arguments, subject}, slot);
}

void reportSubjectCuts(const SubjectField& subject, const std::string& where) {
  if (subject.cutAtNul)
    complain(where + "the Subject field holds a NUL byte; the filter sees the text before it");
  if (subject.cutAtLimit) {
    complain(where + "the Subject field is longer than " + std::to_string(subjectLimit) +
             " bytes; the filter sees its first " + std::to_string(subjectLimit));
  }
}

bool appendToFile(const std::string& path, const std::string& bytes, std::string* error) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  bool ok = fd >= 0;
  std::size_t done = 0;
  while (ok && done < bytes.size()) {
    const ssize_t wrote = write(fd, bytes.data() + done, bytes.size() - done);
    if (wrote < 0 && errno == EINTR) continue;
    ok = wrote > 0;
    if (ok) done += static_cast<std::size_t>(wrote);
  }
  if (!ok) *error = path + ": " + std::strerror(errno);
  if (fd >= 0 && close(fd) != 0 && ok) {
    *error = path + ": " + std::strerror(errno);
    ok = false;
  }
  return ok;
}

}  // namespace zentry::host
