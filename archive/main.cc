// zentry-archive: lists archive attachments for strict mode, in a process of
// its own so that the listing library neither slows the filter's start nor
// takes the filter down with it. The filter starts it once per message,
// under limits on memory and time, as
//   zentry-archive --requests
// and hands it each archive of the message as a request on its standard
// input (a socket; the attachment usually comes as a memory file passed on
// it), reading each answer from its standard output (the format is in
// scanner/archive_lister.h). By hand it lists one attachment:
//   zentry-archive NAME TRUNCATED MEMBERS-LEFT BYTES-LEFT < attachment
// Exit status 0 with whole answers; 2 for arguments or a request it cannot
// read.
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "archive/attachment_listing.h"
#include "scanner/archive_limits.h"
#include "scanner/archive_lister.h"

namespace {

class AnswerSink : public zentry::ExaminationSink {
 public:
  explicit AnswerSink(std::FILE* answer) : answer_(answer) {}
  void foundName(const std::string& name, const std::string& route) override {
    const std::string line = zentry::listerFoundLine(name, route);
    std::fwrite(line.data(), 1, line.size(), answer_);
  }

 private:
  std::FILE* answer_;
};

// libytnef prints its complaints about damaged input on standard output.
// The answer keeps the descriptor the filter reads; standard output becomes
// standard error (nowhere, when the filter starts the lister). Null when
// that fails.
std::FILE* claimAnswerOutput() {
  const int answer = dup(STDOUT_FILENO);
  if (answer < 0 || dup2(STDERR_FILENO, STDOUT_FILENO) < 0) return nullptr;
  return fdopen(answer, "w");
}

bool parseNumber(const char* text, std::uint64_t limit, std::uint64_t* value) {
  if (*text < '0' || *text > '9') return false;
  errno = 0;
  char* end = nullptr;
  const unsigned long long result = std::strtoull(text, &end, 10);
  if (errno != 0 || *end != '\0' || result > limit) return false;
  *value = result;
  return true;
}

// The attachment on standard input, up to the bound; more input than that
// makes it a truncated one, listed as far as the bound. The filter hands it
// over as a memory file, which is mapped: no byte is copied. Any other input
// (a pipe, when run by hand) is read into a buffer reserved at the bound but
// not initialised, so only the pages the input fills are ever touched.
class Attachment {
 public:
  Attachment() = default;
  Attachment(const Attachment&) = delete;
  Attachment& operator=(const Attachment&) = delete;
  ~Attachment() {
    if (mapped_ != nullptr) munmap(mapped_, size_);
  }

  void readStandardInput(bool* truncated) {
    struct stat status {};
    if (fstat(STDIN_FILENO, &status) == 0 && S_ISREG(status.st_mode) && status.st_size > 0 &&
        mapInput(status, truncated))
      return;
    readInput(truncated);
  }
  const unsigned char* data() const {
    return mapped_ != nullptr ? static_cast<const unsigned char*>(mapped_) : read_.get();
  }
  std::size_t size() const { return size_; }

 private:
  bool mapInput(const struct stat& status, bool* truncated) {
    const auto whole = static_cast<std::uint64_t>(status.st_size);
    const std::size_t size = whole > zentry::maxListedAttachmentBytes ? zentry::maxListedAttachmentBytes
                                                                      : static_cast<std::size_t>(whole);
    void* mapped = mmap(nullptr, size, PROT_READ, MAP_PRIVATE | MAP_POPULATE, STDIN_FILENO, 0);
    if (mapped == MAP_FAILED) return false;
    mapped_ = mapped;
    size_ = size;
    if (whole > size) *truncated = true;
    return true;
  }

  void readInput(bool* truncated) {
    read_.reset(new unsigned char[zentry::maxListedAttachmentBytes]);
    while (size_ < zentry::maxListedAttachmentBytes) {
      const ssize_t got = read(STDIN_FILENO, read_.get() + size_, zentry::maxListedAttachmentBytes - size_);
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) return;
      size_ += static_cast<std::size_t>(got);
    }
    unsigned char probe = 0;
    if (read(STDIN_FILENO, &probe, 1) > 0) *truncated = true;
  }

  void* mapped_ = nullptr;
  std::unique_ptr<unsigned char[]> read_;
  std::size_t size_ = 0;
};

// A memory file the filter passed, mapped read-only: the lister reads the
// filter's copy of the attachment, and no byte is copied again.
class MappedRequest {
 public:
  MappedRequest() = default;
  MappedRequest(const MappedRequest&) = delete;
  MappedRequest& operator=(const MappedRequest&) = delete;
  ~MappedRequest() {
    if (mapped_ != nullptr) munmap(mapped_, size_);
  }

  /// Maps the first `size` bytes of `file`; false when the file is not a
  /// regular one that long (reading past its end would kill the lister).
  bool map(int file, std::size_t size) {
    struct stat status {};
    if (fstat(file, &status) != 0 || !S_ISREG(status.st_mode) ||
        static_cast<std::uint64_t>(status.st_size) < size)
      return false;
    if (size == 0) return true;
    // Populated at once: listing reads nearly every page, and one fault a
    // page costs more than the listing on some virtual machines.
    void* mapped = mmap(nullptr, size, PROT_READ, MAP_PRIVATE | MAP_POPULATE, file, 0);
    if (mapped == MAP_FAILED) return false;
    mapped_ = mapped;
    size_ = size;
    return true;
  }
  const unsigned char* data() const {
    static const unsigned char none = 0;
    return mapped_ != nullptr ? static_cast<const unsigned char*>(mapped_) : &none;
  }

 private:
  void* mapped_ = nullptr;
  std::size_t size_ = 0;
};

// Reads the requests of one message from standard input until it ends,
// with the descriptors passed along them.
class RequestReader {
 public:
  RequestReader() = default;
  RequestReader(const RequestReader&) = delete;
  RequestReader& operator=(const RequestReader&) = delete;
  ~RequestReader() { dropDescriptor(); }

  /// The next request's header fields; false at the end of the input or
  /// for a header that is not a request.
  bool nextHeader(std::string* line) {
    line->clear();
    for (;;) {
      if (next_ == filled_ && !fill()) return false;
      const char byte = buffer_[next_++];
      if (byte == '\n') return true;
      // No header of a whole request is longer than an escaped name and five numbers.
      if (line->size() > 3 * zentry::maxMemberNameBytes * 8 + 128) return false;
      *line += byte;
    }
  }
  /// Reads `size` bytes into `data`; false when the input ends first.
  bool read(unsigned char* data, std::size_t size) {
    while (size > 0) {
      if (next_ == filled_ && !fill()) return false;
      const std::size_t step = std::min(size, filled_ - next_);
      std::memcpy(data, buffer_ + next_, step);
      next_ += step;
      data += step;
      size -= step;
    }
    return true;
  }
  /// The descriptor that came with the last header, now the caller's; -1
  /// when none came.
  int takeDescriptor() {
    const int descriptor = descriptor_;
    descriptor_ = -1;
    return descriptor;
  }
  /// Closes a descriptor no request claimed.
  void dropDescriptor() {
    if (descriptor_ >= 0) close(descriptor_);
    descriptor_ = -1;
  }

 private:
  bool fill() {
    for (;;) {
      const ssize_t got = socket_ ? receive() : ::read(STDIN_FILENO, buffer_, sizeof buffer_);
      if (got < 0 && errno == ENOTSOCK && socket_) {
        socket_ = false;  // run by hand on a pipe or a file: no descriptors then
        continue;
      }
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) return false;
      next_ = 0;
      filled_ = static_cast<std::size_t>(got);
      return true;
    }
  }

  // Reads like read(), keeping a descriptor that rides on the bytes. A
  // second one before the first is claimed, or more than one at a time,
  // ends the input: the filter never sends such.
  ssize_t receive() {
    iovec part{buffer_, sizeof buffer_};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
    msghdr message{};
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    const ssize_t got = recvmsg(STDIN_FILENO, &message, MSG_CMSG_CLOEXEC);
    if (got < 0) return got;
    bool refused = (message.msg_flags & MSG_CTRUNC) != 0;
    for (cmsghdr* header = CMSG_FIRSTHDR(&message); header != nullptr;
         header = CMSG_NXTHDR(&message, header)) {
      if (header->cmsg_level != SOL_SOCKET || header->cmsg_type != SCM_RIGHTS) continue;
      const std::size_t count = (header->cmsg_len - CMSG_LEN(0)) / sizeof(int);
      for (std::size_t i = 0; i < count; ++i) {
        int descriptor = -1;
        std::memcpy(&descriptor, CMSG_DATA(header) + i * sizeof(int), sizeof descriptor);
        if (descriptor_ >= 0) {
          close(descriptor);
          refused = true;
        } else {
          descriptor_ = descriptor;
        }
      }
    }
    return refused ? 0 : got;
  }

  char buffer_[65536] = {};
  std::size_t next_ = 0;
  std::size_t filled_ = 0;
  bool socket_ = true;
  int descriptor_ = -1;
};

struct Request {
  std::string name;
  bool mapped = false;  // the bytes are in a memory file that came along, not on the input
  bool truncated = false;
  zentry::ExaminationBudget budget;
  std::size_t size = 0;
};

bool parseRequest(const std::string& line, Request* request) {
  std::vector<std::string> fields;
  std::size_t start = 0;
  for (std::size_t space = line.find(' '); space != std::string::npos; space = line.find(' ', start)) {
    fields.push_back(line.substr(start, space - start));
    start = space + 1;
  }
  fields.push_back(line.substr(start));
  std::uint64_t members = 0;
  std::uint64_t bytes = 0;
  std::uint64_t size = 0;
  if (fields.size() != 6 || (fields[0] != "list" && fields[0] != "map") ||
      !zentry::unescapeListerField(fields[1], &request->name) || (fields[2] != "0" && fields[2] != "1") ||
      !parseNumber(fields[3].c_str(), UINT32_MAX, &members) ||
      !parseNumber(fields[4].c_str(), UINT64_MAX, &bytes) ||
      !parseNumber(fields[5].c_str(), zentry::maxListedAttachmentBytes, &size))
    return false;
  request->mapped = fields[0] == "map";
  request->truncated = fields[2] == "1";
  request->budget.membersLeft = static_cast<std::uint32_t>(members);
  request->budget.decompressedBytesLeft = bytes;
  request->size = static_cast<std::size_t>(size);
  return true;
}

// Answers the message's requests until its input ends: 0 then, 2 for a
// request it cannot read (the filter counts the archive as not listed).
int answerRequests() {
  std::FILE* answer = claimAnswerOutput();
  if (answer == nullptr) return 1;
  RequestReader input;
  std::string header;
  while (input.nextHeader(&header)) {
    Request request;
    if (!parseRequest(header, &request)) return 2;
    // Read off the input only when no memory file came: a buffer left
    // uninitialised, so no page is touched before the bytes fill it.
    MappedRequest mapped;
    std::unique_ptr<unsigned char[]> streamed;
    const unsigned char* bytes = nullptr;
    if (request.mapped) {
      const int file = input.takeDescriptor();
      const bool ok = file >= 0 && mapped.map(file, request.size);
      if (file >= 0) close(file);
      if (!ok) return 2;
      bytes = mapped.data();
    } else {
      input.dropDescriptor();
      streamed.reset(new unsigned char[request.size]);
      if (!input.read(streamed.get(), request.size)) return 2;
      bytes = streamed.get();
    }
    AnswerSink sink(answer);
    zentry::listAttachment(request.name, bytes, request.size, request.truncated, request.budget, sink);
    const std::string left = zentry::listerLeftLine(request.budget);
    std::fwrite(left.data(), 1, left.size(), answer);
    if (std::fflush(answer) != 0) return 1;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && std::string(argv[1]) == "--requests") return answerRequests();
  std::string name;
  std::uint64_t members = 0;
  std::uint64_t bytesLeft = 0;
  const std::string truncatedArgument = argc == 5 ? argv[2] : "";
  if (argc != 5 || !zentry::unescapeListerField(argv[1], &name) ||
      (truncatedArgument != "0" && truncatedArgument != "1") || !parseNumber(argv[3], UINT32_MAX, &members) ||
      !parseNumber(argv[4], UINT64_MAX, &bytesLeft)) {
    std::fprintf(stderr,
                 "usage: zentry-archive NAME TRUNCATED MEMBERS-LEFT BYTES-LEFT < attachment\n"
                 "       zentry-archive --requests\n");
    return 2;
  }
  std::FILE* answer = claimAnswerOutput();
  if (answer == nullptr) return 1;
  bool truncated = truncatedArgument == "1";
  Attachment attachment;
  attachment.readStandardInput(&truncated);
  zentry::ExaminationBudget budget;
  budget.membersLeft = static_cast<std::uint32_t>(members);
  budget.decompressedBytesLeft = bytesLeft;
  AnswerSink sink(answer);
  // The budget is the caller's to set: the filter may allow more than the defaults.
  zentry::listAttachment(name, attachment.data(), attachment.size(), truncated, budget, sink);
  const std::string left = zentry::listerLeftLine(budget);
  std::fwrite(left.data(), 1, left.size(), answer);
  return std::fflush(answer) == 0 ? 0 : 1;
}
