#include "host/mbox_reader.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "host/input_file.h"

namespace zentry::host {
namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// Finds "dd:dd" in the bytes of one line after its "From ", fed in pieces.
class TimeOfDayFinder {
 public:
  void feed(char c) {
    if (found_) return;
    found_ = count_ == 4 && isDigit(last_[0]) && isDigit(last_[1]) && last_[2] == ':' && isDigit(last_[3]) &&
             isDigit(c);
    last_[0] = last_[1], last_[1] = last_[2], last_[2] = last_[3], last_[3] = c;
    if (count_ < 4) ++count_;
  }
  bool found() const { return found_; }

 private:
  char last_[4] = {};
  int count_ = 0;
  bool found_ = false;
};

class MboxReader : public MailboxReader {
 public:
  MboxReader(int fd, std::uint64_t size) : fd_(fd) { total_.store(size / 1024); }
  ~MboxReader() override { close(fd_); }
  [[nodiscard]] bool startsLikeMbox(std::string* error);
  Next next(RoutingWriter& writer, std::string* id, std::string* problem) override;

 private:
  // What ends a message's bytes: the empty line before an envelope is the
  // mbox's, and so is the CR LF of one after a line ending in CR LF.
  struct LineShape {
    bool emptyLf = false;    // the line is "\n" (or "\r\n", see emptyCrLf)
    bool emptyCrLf = false;  // the line is "\r\n"
    bool endsCrLf = false;   // the line ends in "\r\n"
  };
  [[nodiscard]] bool fill(std::size_t wanted);
  bool startsWith(const char* text);
  [[nodiscard]] bool skipLine(LineShape* shape);
  [[nodiscard]] bool copyLine(RoutingWriter& writer, bool candidate, LineShape* shape, bool* envelope,
                              std::string* error);

  int fd_;
  char buffer_[64 * 1024] = {};
  std::size_t start_ = 0, end_ = 0;
  bool eof_ = false;
  bool readFailed_ = false;
  std::uint64_t consumed_ = 0;
  std::size_t number_ = 0;
  bool more_ = true;         // an envelope line was read: a message follows
  LineShape envelopeShape_;  // of the envelope line before the next message
};

bool MboxReader::fill(std::size_t wanted) {
  if (readFailed_) return false;
  if (end_ - start_ >= wanted || eof_) return true;
  std::memmove(buffer_, buffer_ + start_, end_ - start_);
  end_ -= start_;
  start_ = 0;
  while (end_ < wanted && !eof_) {
    // A signal ends the replay without waiting for the rest of a message.
    const long got = readUnlessInterrupted(fd_, buffer_ + end_, sizeof buffer_ - end_);
    if (got < 0) {
      readFailed_ = true;
      return false;
    }
    eof_ = got == 0;
    end_ += static_cast<std::size_t>(got);
  }
  return true;
}

bool MboxReader::startsWith(const char* text) {
  const std::size_t length = std::strlen(text);
  return fill(length) && end_ - start_ >= length && std::memcmp(buffer_ + start_, text, length) == 0;
}

bool MboxReader::startsLikeMbox(std::string* error) {
  if (startsWith("From ")) return true;
  *error = readFailed_ ? std::strerror(errno)
           : end_ == 0 ? std::string("empty mailbox")
                       : std::string("not an mbox file (its first line does not begin with \"From \")");
  return false;
}

// Consumes one line whose bytes are not kept (an envelope line).
bool MboxReader::skipLine(LineShape* shape) {
  char previous = 0;
  for (;;) {
    if (!fill(1)) return false;
    if (start_ == end_) break;
    const char* data = buffer_ + start_;
    const void* lf = std::memchr(data, '\n', end_ - start_);
    const std::size_t span =
        lf == nullptr ? end_ - start_ : static_cast<std::size_t>(static_cast<const char*>(lf) - data) + 1;
    start_ += span, consumed_ += span;
    if (lf != nullptr) {
      shape->endsCrLf = span >= 2 ? data[span - 2] == '\r' : previous == '\r';
      break;
    }
    previous = data[span - 1];
  }
  done_.store(consumed_ / 1024);
  return true;
}

// Copies one line, unquoting ">From ". For a candidate (a "From " line after
// an empty line) *envelope tells whether it carries a time of day.
bool MboxReader::copyLine(RoutingWriter& writer, bool candidate, LineShape* shape, bool* envelope,
                          std::string* error) {
  *shape = LineShape();
  std::uint64_t length = 0;
  char previous = 0;
  if (!candidate && startsWith(">")) {
    std::uint64_t quotes = 0;
    while (startsWith(">")) ++start_, ++consumed_, ++quotes;
    if (startsWith("From ")) --quotes;
    length = quotes;
    previous = '>';
    for (; quotes > 0; --quotes) {
      if (!writer.write(">", 1, error)) return false;
    }
  }
  TimeOfDayFinder time;
  for (;;) {
    if (!fill(1)) {
      *error = std::string("cannot read the mailbox: ") + std::strerror(errno);
      return false;
    }
    if (start_ == end_) break;
    const char* data = buffer_ + start_;
    const void* lf = std::memchr(data, '\n', end_ - start_);
    const std::size_t span =
        lf == nullptr ? end_ - start_ : static_cast<std::size_t>(static_cast<const char*>(lf) - data) + 1;
    if (candidate) {
      for (std::size_t i = 0; i < span; ++i) {
        if (length + i >= 5) time.feed(data[i]);
      }
    }
    if (!writer.write(data, span, error)) return false;
    start_ += span, consumed_ += span;
    if (lf != nullptr) {
      const char beforeLf = span >= 2 ? data[span - 2] : previous;
      shape->endsCrLf = (length + span >= 2) && beforeLf == '\r';
      shape->emptyLf = length + span == 1;
      shape->emptyCrLf = length + span == 2 && shape->endsCrLf;
      length += span;
      break;
    }
    length += span;
    previous = data[span - 1];
  }
  *envelope = candidate && time.found();
  done_.store(consumed_ / 1024);
  return true;
}

MailboxReader::Next MboxReader::next(RoutingWriter& writer, std::string* id, std::string* problem) {
  if (!more_) return Next::end;
  if (number_ == 0 && !skipLine(&envelopeShape_)) {
    *problem = std::strerror(errno);
    return Next::failed;
  }
  *id = std::to_string(++number_);
  more_ = false;
  LineShape last;  // the line before the current one
  LineShape beforeLast = envelopeShape_;
  bool lineSeen = false;
  for (;;) {
    if (!fill(1)) break;
    if (start_ == end_) break;  // end of the file ends the message
    const bool previousEmpty = lineSeen && (last.emptyLf || last.emptyCrLf);
    const bool candidate = previousEmpty && startsWith("From ");
    const std::uint64_t mark = writer.messageSize();
    LineShape shape;
    bool envelope = false;
    if (!copyLine(writer, candidate, &shape, &envelope, problem)) return Next::failed;
    if (envelope) {
      // That line was the next envelope: take it back out of this message.
      if (!writer.dropTail(writer.messageSize() - mark, problem)) return Next::failed;
      envelopeShape_ = shape;
      more_ = true;
      break;
    }
    beforeLast = lineSeen ? last : envelopeShape_;
    last = shape;
    lineSeen = true;
  }
  if (readFailed_) {
    *problem = std::string("cannot read the mailbox: ") + std::strerror(errno);
    return Next::failed;
  }
  // The empty line before the next envelope (or the end) is the mbox's.
  if (lineSeen && last.emptyLf && !last.emptyCrLf) {
    if (!writer.dropTail(1, problem)) return Next::failed;
  } else if (lineSeen && last.emptyCrLf && beforeLast.endsCrLf) {
    if (!writer.dropTail(2, problem)) return Next::failed;
  }
  if (writer.messageSize() == 0) {
    *problem = "message " + *id + ": empty (an envelope line without a message)";
    return Next::skipped;
  }
  return Next::message;
}

}  // namespace

std::unique_ptr<MailboxReader> openMbox(int fd, const std::string& path, MailboxStatus* status,
                                        std::string* error) {
  struct stat info {};
  const std::uint64_t size = fstat(fd, &info) == 0 ? static_cast<std::uint64_t>(info.st_size) : 0;
  auto reader = std::make_unique<MboxReader>(fd, size);
  if (!reader->startsLikeMbox(error)) {
    *error = path + ": " + *error;
    *status = MailboxStatus::notMailbox;
    return nullptr;
  }
  *status = MailboxStatus::ok;
  return reader;
}

}  // namespace zentry::host
