#include "platform/standard_output.h"

#include <unistd.h>

#include <cerrno>

namespace zentry {

void StandardOutputSink::flush() {
  std::size_t done = 0;
  while (done < pending_.size()) {
    const ssize_t wrote = ::write(STDOUT_FILENO, pending_.data() + done, pending_.size() - done);
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) break;
    done += static_cast<std::size_t>(wrote);
  }
  pending_.clear();
}

}  // namespace zentry
