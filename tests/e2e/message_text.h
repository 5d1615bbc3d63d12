#pragma once

#include <string>
#include <vector>

#include "support/e2e.h"

namespace zentry::test {

/// A message built line by line, knowing the file position after each line
/// (the host's four prefix bytes included), so expected traces can name the
/// offsets without counting by hand.
class MessageText {
 public:
  explicit MessageText(std::string lineEnd = "\n") : lineEnd_(std::move(lineEnd)) {}

  /// Adds a line and returns the position just after it.
  unsigned long add(const std::string& line) {
    text_ += line + lineEnd_;
    return position();
  }
  void addRaw(const std::string& bytes) { text_ += bytes; }
  unsigned long position() const { return 4 + static_cast<unsigned long>(text_.size()); }
  const std::string& text() const { return text_; }

 private:
  std::string lineEnd_;
  std::string text_;
};

/// The trace the driver appends after the scan, for these names and subject.
inline std::string namesTrace(const std::string& subject, const std::vector<std::string>& names) {
  std::string out = "\nSubject - " + subject + "\n";
  for (const std::string& name : names) out += "Attachment - " + name + "\n";
  return out;
}

/// The names from a debug run's "Attachment - " lines, in order.
inline std::vector<std::string> tracedNames(const std::string& output) {
  std::vector<std::string> names;
  const std::string marker = "\r\nAttachment - ";
  for (std::size_t at = output.find(marker); at != std::string::npos; at = output.find(marker, at + 1)) {
    const std::size_t start = at + marker.size();
    names.push_back(output.substr(start, output.find("\r\n", start) - start));
  }
  return names;
}

}  // namespace zentry::test
