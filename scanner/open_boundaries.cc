#include "scanner/open_boundaries.h"

#include <cstring>
#include <utility>

namespace zentry {
namespace {

bool endsInBlank(const std::string& boundary) {
  return !boundary.empty() && (boundary.back() == ' ' || boundary.back() == '\t');
}

}  // namespace

void OpenBoundaries::push(OpenMultipart multipart) {
  levels_[multipart.boundary].push_back(open_.size());
  if (endsInBlank(multipart.boundary)) ++endingInBlank_;
  open_.push_back(std::move(multipart));
}

void OpenBoundaries::keep(std::size_t count) {
  while (open_.size() > count) {
    const std::string& boundary = open_.back().boundary;
    if (endsInBlank(boundary)) --endingInBlank_;
    const auto levels = levels_.find(boundary);
    levels->second.pop_back();
    if (levels->second.empty()) levels_.erase(levels);
    open_.pop_back();
  }
}

bool OpenBoundaries::innermostLevel(const std::string& boundary, std::size_t* level) const {
  const auto levels = levels_.find(boundary);
  if (levels == levels_.end()) return false;
  *level = levels->second.back();
  return true;
}

FoundDelimiter OpenBoundaries::delimiterOf(const char* buffer, std::size_t delivered) const {
  FoundDelimiter found;
  if (delivered < 2 || buffer[0] != '-' || buffer[1] != '-' || open_.empty()) return found;
  if (endingInBlank_ != 0) return comparedWithEach(buffer, delivered);
  // "--" boundary ["--"] blanks [LF]: without its blanks the rest is the
  // boundary, or the boundary and "--".
  std::size_t end = delivered;
  if (buffer[end - 1] == '\n') --end;
  while (end > 2 && (buffer[end - 1] == ' ' || buffer[end - 1] == '\t')) --end;
  const std::string whole(buffer + 2, end - 2);
  std::size_t level = 0;
  if (innermostLevel(whole, &level)) {
    found.level = level;
    found.end = DelimiterEnd::delimiter;
  }
  if (whole.size() >= 2 && whole.compare(whole.size() - 2, 2, "--") == 0 &&
      innermostLevel(whole.substr(0, whole.size() - 2), &level) &&
      (found.end == DelimiterEnd::none || level > found.level)) {
    found.level = level;
    found.end = DelimiterEnd::closeDelimiter;
  }
  return found;
}

FoundDelimiter OpenBoundaries::comparedWithEach(const char* buffer, std::size_t delivered) const {
  FoundDelimiter found;
  for (std::size_t level = open_.size(); level-- > 0;) {
    const std::string& boundary = open_[level].boundary;
    const std::size_t size = 2 + boundary.size();
    if (delivered < size || std::memcmp(buffer + 2, boundary.data(), boundary.size()) != 0) continue;
    const DelimiterMatch match = delimiterEndOf(buffer + size, delivered - size);
    if (match.end == DelimiterEnd::none) continue;
    found.level = level;
    found.end = match.end;
    return found;
  }
  return found;
}

}  // namespace zentry
