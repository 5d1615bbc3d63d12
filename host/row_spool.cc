#include "host/row_spool.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "host/work_dir.h"

namespace zentry::host {
namespace {

// A row is its fields in a fixed order, each a presence byte (for the
// optional ones), an eight-byte length and the bytes.
void putText(std::string& out, const std::string& text) {
  std::uint64_t size = text.size();
  char length[sizeof size];
  std::memcpy(length, &size, sizeof size);
  out.append(length, sizeof length);
  out += text;
}

void putOptional(std::string& out, const std::optional<std::string>& text) {
  out += text ? '1' : '0';
  if (text) putText(out, *text);
}

// Reads the spool back through a fixed buffer.
class SpoolReader {
 public:
  explicit SpoolReader(int fd) : fd_(fd) {}
  /// False at the end of the file (between rows) or on a short or failed read.
  bool bytes(char* into, std::size_t size) {
    while (size > 0) {
      if (at_ == end_ && !fill()) return false;
      const std::size_t part = std::min(size, end_ - at_);
      std::memcpy(into, buffer_.data() + at_, part);
      at_ += part, into += part, size -= part;
    }
    return true;
  }
  bool text(std::string* text) {
    std::uint64_t size = 0;
    char length[sizeof size];
    if (!bytes(length, sizeof length)) return false;
    std::memcpy(&size, length, sizeof size);
    text->resize(static_cast<std::size_t>(size));
    return bytes(text->data(), text->size());
  }
  bool optional(std::optional<std::string>* text) {
    char present = 0;
    if (!bytes(&present, 1)) return false;
    if (present == '0') {
      text->reset();
      return true;
    }
    text->emplace();
    return this->text(&**text);
  }
  bool failed() const { return failed_; }

 private:
  bool fill() {
    ssize_t got;
    do got = read(fd_, buffer_.data(), buffer_.size());
    while (got < 0 && errno == EINTR);
    failed_ = got < 0;
    at_ = 0;
    end_ = got > 0 ? static_cast<std::size_t>(got) : 0;
    return got > 0;
  }

  int fd_;
  std::vector<char> buffer_ = std::vector<char>(64 * 1024);
  std::size_t at_ = 0, end_ = 0;
  bool failed_ = false;
};

int openUnnamedFile(const std::string& directory) {
  const int fd = ::open(directory.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (fd >= 0 || (errno != EOPNOTSUPP && errno != EISDIR)) return fd;
  // A file system without unnamed files: a named one, unlinked at once.
  std::string pattern = directory + "/zentry-host.XXXXXX";
  const int named = mkostemp(pattern.data(), O_CLOEXEC);
  if (named >= 0) unlink(pattern.c_str());
  return named;
}

}  // namespace

RowSpool::~RowSpool() {
  if (fd_ >= 0) close(fd_);
}

bool RowSpool::open(std::string* error) {
  fd_ = openUnnamedFile(tmpDirectory());
  if (fd_ < 0) *error = "cannot make a file in " + tmpDirectory() + ": " + std::strerror(errno);
  return fd_ >= 0;
}

bool RowSpool::append(const ReplayRow& row, std::string* error) {
  putText(pending_, row.id);
  putOptional(pending_, row.subject);
  pending_ += static_cast<char>('0' + static_cast<int>(row.result));
  putText(pending_, row.label);
  putOptional(pending_, row.name);
  putText(pending_, row.problem);
  putOptional(pending_, row.decodedSubject);
  ++rows_;
  return pending_.size() < bufferLimit || flush(error);
}

bool RowSpool::flush(std::string* error) {
  std::size_t done = 0;
  while (done < pending_.size()) {
    const ssize_t wrote = write(fd_, pending_.data() + done, pending_.size() - done);
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) {
      *error = "cannot keep the report in " + tmpDirectory() + ": " + std::strerror(errno);
      return false;
    }
    done += static_cast<std::size_t>(wrote);
  }
  pending_.clear();
  return true;
}

bool RowSpool::forEach(const std::function<void(const ReplayRow&)>& take, std::string* error) {
  if (!flush(error)) return false;
  if (lseek(fd_, 0, SEEK_SET) != 0) {
    *error = std::string("cannot read the report back: ") + std::strerror(errno);
    return false;
  }
  SpoolReader reader(fd_);
  ReplayRow row;
  char result = 0;
  std::size_t read = 0;
  for (; read < rows_; ++read) {
    if (!reader.text(&row.id) || !reader.optional(&row.subject) || !reader.bytes(&result, 1) ||
        !reader.text(&row.label) || !reader.optional(&row.name) || !reader.text(&row.problem) ||
        !reader.optional(&row.decodedSubject))
      break;
    row.result = static_cast<ReplayRow::Result>(result - '0');
    take(row);
  }
  if (read < rows_) {
    *error = "cannot read the report back: " +
             std::string(reader.failed() ? std::strerror(errno) : "the file was cut short");
    return false;
  }
  return true;
}

}  // namespace zentry::host
