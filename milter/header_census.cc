#include "milter/header_census.h"

#include <strings.h>

namespace zentry::milter {
namespace {

bool sameName(std::string_view a, std::string_view b) {
  return a.size() == b.size() && strncasecmp(a.data(), b.data(), a.size()) == 0;
}

}  // namespace

bool isOwnFieldName(std::string_view name) {
  constexpr std::string_view prefix = "X-Zentry-";
  return name.size() >= prefix.size() && sameName(name.substr(0, prefix.size()), prefix);
}

void HeaderCensus::add(std::string_view name, std::string_view value) {
  if (sameName(name, "Subject")) {
    if (subjectCount_++ == 0) firstSubject_ = std::string(value);
    return;
  }
  if (!isOwnFieldName(name)) return;
  int instance = 1;
  for (const auto& [seen, number] : ownFields_)
    if (sameName(seen, name)) instance = number + 1;
  ownFields_.emplace_back(std::string(name), instance);
}

std::vector<std::pair<std::string, int>> HeaderCensus::ownFieldsLastFirst() const {
  return {ownFields_.rbegin(), ownFields_.rend()};
}

}  // namespace zentry::milter
