#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "platform/file_line_source.h"
#include "platform/workspace.h"

namespace zentry {
namespace {

/// Appends to a file through a small buffer; each run opens it afresh.
class AppendFileSink : public TextSink {
 public:
  explicit AppendFileSink(int descriptor) : descriptor_(descriptor) {}
  ~AppendFileSink() override {
    flush();
    ::close(descriptor_);
  }
  AppendFileSink(const AppendFileSink&) = delete;
  AppendFileSink& operator=(const AppendFileSink&) = delete;

  void write(const char* data, std::size_t size) override {
    pending_.append(data, size);
    if (pending_.size() >= flushThreshold) flush();
  }

  void flush() override {
    std::size_t done = 0;
    while (done < pending_.size()) {
      const ssize_t wrote = ::write(descriptor_, pending_.data() + done, pending_.size() - done);
      if (wrote < 0 && errno == EINTR) continue;
      if (wrote <= 0) break;  // a log that can't be written is no reason to stop filtering
      done += static_cast<std::size_t>(wrote);
    }
    pending_.clear();
  }

 private:
  static constexpr std::size_t flushThreshold = 64 * 1024;
  int descriptor_;
  std::string pending_;
};

class DirectoryWorkspace : public Workspace {
 public:
  explicit DirectoryWorkspace(const char* directory) : prefix_(directory) {
    if (!prefix_.empty() && prefix_.back() != '/') prefix_ += '/';
  }

  std::unique_ptr<LineSource> openText(const char* name, TextReading reading) override {
    return FileLineSource::open((prefix_ + name).c_str(), reading);
  }

  std::unique_ptr<TextSink> openAppend(const char* name) override {
    const int descriptor = ::open((prefix_ + name).c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (descriptor < 0) return nullptr;
    return std::make_unique<AppendFileSink>(descriptor);
  }

 private:
  std::string prefix_;
};

}  // namespace

std::unique_ptr<Workspace> makeDirectoryWorkspace(const char* directory) {
  return std::make_unique<DirectoryWorkspace>(directory);
}

}  // namespace zentry
