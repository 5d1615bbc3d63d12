#include "host/message_text.h"

#include <cstring>

namespace zentry::host {
namespace {

bool isBlank(char c) { return c == ' ' || c == '\t'; }

char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

constexpr char subjectName[] = "subject";
constexpr std::size_t subjectNameLength = sizeof subjectName - 1;

// The field name of the line that starts at 0: the bytes before the colon,
// blanks before the colon dropped (an obsolete form servers still accept).
// Empty when the line is not a field.
std::string fieldName(const std::string& text) {
  const std::size_t lineEnd = text.find('\n');
  const std::size_t colon = text.find(':');
  if (colon == std::string::npos || colon == 0 || colon > lineEnd) return std::string();
  std::size_t end = colon;
  while (end > 0 && isBlank(text[end - 1])) --end;
  for (std::size_t i = 0; i < end; ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c <= 32 || c >= 127) return std::string();
  }
  return text.substr(0, end);
}

}  // namespace

std::string stripEnvelopeLine(const std::string& message) {
  if (message.compare(0, 5, "From ") != 0) return message;
  const std::size_t end = message.find('\n');
  return end == std::string::npos ? std::string() : message.substr(end + 1);
}

void SubjectReader::feed(const char* bytes, std::size_t size) {
  const char* const end = bytes + size;
  while (bytes < end && state_ != State::done) {
    if (state_ == State::skipLine) {
      // Most header lines are other fields: jump to their end.
      const void* lf = std::memchr(bytes, '\n', static_cast<std::size_t>(end - bytes));
      if (lf == nullptr) return;
      bytes = static_cast<const char*>(lf);
    }
    take(*bytes++);
  }
}

void SubjectReader::keep(char c) {
  if (field_.cutAtNul || field_.cutAtLimit) return;
  std::string& value = *field_.value;
  if (c == '\0') {
    // The environment cannot carry a NUL; the server's copy would end there too.
    field_.cutAtNul = true;
  } else if (value.empty() && isBlank(c)) {
    // Blanks after the colon, also those that start a folded line, are not kept.
  } else if (value.size() == subjectLimit) {
    field_.cutAtLimit = true;
  } else {
    value += c;
  }
}

void SubjectReader::take(char c) {
  switch (state_) {
    case State::lineStart:
      matched_ = 0;
      lineEmpty_ = c == '\r';
      if (c == '\n') {
        state_ = State::done;  // the empty line that ends the header block
      } else if (c == '\r') {
        state_ = State::name;  // an empty line if LF follows, else no field
      } else if (isBlank(c)) {
        state_ = State::skipLine;  // a folded line of some other field
      } else {
        state_ = State::name;
        take(c);
      }
      return;
    case State::name:
      if (lineEmpty_) {
        state_ = c == '\n' ? State::done : State::skipLine;
      } else if (c == '\n') {
        state_ = State::lineStart;
      } else if (c == ':' && matched_ == subjectNameLength) {
        field_.value.emplace();
        state_ = State::value;
      } else if (isBlank(c) && matched_ == subjectNameLength) {
        state_ = State::blanksAfterName;
      } else if (matched_ < subjectNameLength && lower(c) == subjectName[matched_]) {
        ++matched_;
      } else {
        state_ = State::skipLine;  // another field, or no field at all
      }
      return;
    case State::blanksAfterName:
      if (c == ':') {
        field_.value.emplace();
        state_ = State::value;
      } else if (c == '\n') {
        state_ = State::lineStart;
      } else if (!isBlank(c)) {
        state_ = State::skipLine;
      }
      return;
    case State::skipLine:
      if (c == '\n') state_ = State::lineStart;
      return;
    case State::value:
      if (c == '\n') {
        pendingCr_ = false;  // the line end is no part of the value
        state_ = State::afterValueLine;
        return;
      }
      if (pendingCr_) keep('\r');
      pendingCr_ = c == '\r';
      if (!pendingCr_) keep(c);
      return;
    case State::afterValueLine:
      if (isBlank(c)) {
        state_ = State::value;  // folded: the line joins the value, its blank kept
        keep(c);
      } else {
        state_ = State::done;
      }
      return;
    case State::done:
      return;
  }
}

const SubjectField& SubjectReader::finish() {
  state_ = State::done;  // a CR left pending ended the last line: dropped
  return field_;
}

SubjectField extractSubject(const std::string& message) {
  SubjectReader reader;
  reader.feed(message.data(), message.size());
  return reader.finish();
}

bool looksLikeMessage(const std::string& bytes) {
  return bytes.compare(0, 5, "From ") == 0 || !fieldName(bytes).empty();
}

}  // namespace zentry::host
