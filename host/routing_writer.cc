#include "host/routing_writer.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "host/input_file.h"
#include "host/work_dir.h"

namespace zentry::host {

RoutingWriter::~RoutingWriter() {
  if (fd_ >= 0) ::close(fd_);
}

bool RoutingWriter::fail(const char* what, std::string* error) {
  *error = std::string("cannot ") + what + " " + path_ + ": " + std::strerror(errno);
  return false;
}

bool RoutingWriter::open(const std::string& path, std::string* error) {
  if (fd_ >= 0) ::close(fd_);
  path_ = path;
  used_ = 0;
  written_ = 0;
  subject_ = SubjectReader();
  fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd_ < 0) return fail("create", error);
  const std::string prefix = routingFileBytes("");
  std::memcpy(buffer_, prefix.data(), prefix.size());
  used_ = prefix.size();
  if (!flush(error)) return false;
  written_ = 0;  // the prefix is no part of the message
  return true;
}

bool RoutingWriter::flush(std::string* error) {
  std::size_t done = 0;
  while (done < used_) {
    const ssize_t wrote = ::write(fd_, buffer_ + done, used_ - done);
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) return fail("write", error);
    done += static_cast<std::size_t>(wrote);
  }
  written_ += used_;
  used_ = 0;
  return true;
}

bool RoutingWriter::write(const char* bytes, std::size_t size, std::string* error) {
  if (!subject_.done()) subject_.feed(bytes, size);
  while (size > 0) {
    if (used_ == capacity && !flush(error)) return false;
    const std::size_t part = std::min(size, capacity - used_);
    std::memcpy(buffer_ + used_, bytes, part);
    used_ += part;
    bytes += part;
    size -= part;
  }
  return true;
}

bool RoutingWriter::dropTail(std::uint64_t count, std::string* error) {
  if (count <= used_) {
    used_ -= static_cast<std::size_t>(count);
    return true;
  }
  if (!flush(error)) return false;
  written_ -= count;
  // The prefix stays: the file keeps its first four bytes.
  const auto length = static_cast<off_t>(written_ + routingFileBytes("").size());
  if (ftruncate(fd_, length) != 0 || lseek(fd_, length, SEEK_SET) < 0) return fail("write", error);
  return true;
}

bool RoutingWriter::close(std::string* error) {
  const bool flushed = flush(error);
  const int fd = fd_;
  fd_ = -1;
  if (::close(fd) != 0 && flushed) return fail("write", error);
  return flushed;
}

CopyStatus copyMessage(int fd, RoutingWriter& writer, std::string* error) {
  char chunk[64 * 1024];
  bool lineStart = true;  // at the very start: an envelope line may follow
  bool inEnvelope = false;
  std::size_t envelopeMatched = 0;  // bytes of "From " seen at the start
  for (;;) {
    const long got = readUnlessInterrupted(fd, chunk, sizeof chunk);
    if (got < 0) {
      *error = std::strerror(errno);
      return CopyStatus::readFailed;
    }
    if (got == 0) break;
    const char* bytes = chunk;
    std::size_t size = static_cast<std::size_t>(got);
    while (lineStart && size > 0) {
      // "From " may arrive split over reads; hold what matched until it is decided.
      if (envelopeMatched < 5 && *bytes == "From "[envelopeMatched]) {
        ++envelopeMatched, ++bytes, --size;
        if (envelopeMatched == 5) inEnvelope = true, lineStart = false;
      } else {
        lineStart = false;
        if (!writer.write("From ", envelopeMatched, error)) return CopyStatus::writeFailed;
      }
    }
    if (inEnvelope) {
      const void* lf = std::memchr(bytes, '\n', size);
      if (lf == nullptr) continue;
      const std::size_t skipped = static_cast<std::size_t>(static_cast<const char*>(lf) - bytes) + 1;
      bytes += skipped, size -= skipped;
      inEnvelope = false;
    }
    if (!writer.write(bytes, size, error)) return CopyStatus::writeFailed;
  }
  if (lineStart && !writer.write("From ", envelopeMatched, error)) return CopyStatus::writeFailed;
  return writer.messageSize() == 0 ? CopyStatus::empty : CopyStatus::ok;
}

}  // namespace zentry::host
