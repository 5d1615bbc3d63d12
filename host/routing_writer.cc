#include "host/routing_writer.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
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
  fd_ = -1;
  path_ = path;
  used_ = 0;
  written_ = 0;
  holding_ = false;
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

void RoutingWriter::openHeld(const std::string& path, std::size_t heldLimit) {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  path_ = path;
  used_ = 0;
  written_ = 0;
  holding_ = true;
  heldLimit_ = heldLimit;
  held_ = routingFileBytes("");
  subject_ = SubjectReader();
}

bool RoutingWriter::writeAll(const char* bytes, std::size_t size, std::string* error) {
  std::size_t done = 0;
  while (done < size) {
    const ssize_t wrote = ::write(fd_, bytes + done, size - done);
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) return fail("write", error);
    done += static_cast<std::size_t>(wrote);
  }
  return true;
}

bool RoutingWriter::flush(std::string* error) {
  if (!writeAll(buffer_, used_, error)) return false;
  written_ += used_;
  used_ = 0;
  return true;
}

// The held bytes go first into the file, and the message goes on from there.
bool RoutingWriter::spill(std::string* error) {
  fd_ = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd_ < 0) return fail("create", error);
  if (!writeAll(held_.data(), held_.size(), error)) return false;
  written_ = held_.size() - routingFileBytes("").size();
  held_.clear();
  holding_ = false;
  return true;
}

bool RoutingWriter::write(const char* bytes, std::size_t size, std::string* error) {
  if (!subject_.done()) subject_.feed(bytes, size);
  if (holding_) {
    if (size <= heldLimit_ - std::min(heldLimit_, held_.size())) {
      held_.append(bytes, size);
      return true;
    }
    if (!spill(error)) return false;
  }
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
  if (holding_) {
    held_.resize(held_.size() - static_cast<std::size_t>(count));
    return true;
  }
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
  if (holding_) return true;
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
