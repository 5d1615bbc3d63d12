// zentry-archive: lists one archive attachment for strict mode, in a process
// of its own so that the listing library neither slows the filter's start
// nor takes the filter down with it. The filter starts it, under limits on
// memory and time, as
//   zentry-archive NAME TRUNCATED MEMBERS-LEFT BYTES-LEFT
// hands it the decoded attachment as its standard input and reads the answer
// from its standard output (the format is in scanner/archive_lister.h).
// Exit status 0 with a whole answer; 2 for arguments it cannot read.
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

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
    void* mapped = mmap(nullptr, size, PROT_READ, MAP_PRIVATE, STDIN_FILENO, 0);
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

}  // namespace

int main(int argc, char** argv) {
  std::string name;
  std::uint64_t members = 0;
  std::uint64_t bytesLeft = 0;
  const std::string truncatedArgument = argc == 5 ? argv[2] : "";
  if (argc != 5 || !zentry::unescapeListerField(argv[1], &name) ||
      (truncatedArgument != "0" && truncatedArgument != "1") || !parseNumber(argv[3], UINT32_MAX, &members) ||
      !parseNumber(argv[4], UINT64_MAX, &bytesLeft)) {
    std::fprintf(stderr, "usage: zentry-archive NAME TRUNCATED MEMBERS-LEFT BYTES-LEFT < attachment\n");
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
