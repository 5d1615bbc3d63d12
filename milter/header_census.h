#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace zentry::milter {

/// What the milter must know of a message's header fields besides their
/// bytes: the fields named like its own (`X-Zentry-...`), which it removes
/// from every message so that none can be forged, and the Subject fields.
class HeaderCensus {
 public:
  /// One field as the server passes it (the value without its leading blank).
  void add(std::string_view name, std::string_view value);
  void clear() { *this = HeaderCensus(); }

  /// The `X-Zentry-` fields received, each as (name, instance): the instance
  /// counts fields of that name, letter case aside, from 1, as the server
  /// counts them when asked to change one. Last received first, so that
  /// removing them in this order never renumbers one still to remove.
  std::vector<std::pair<std::string, int>> ownFieldsLastFirst() const;
  /// The first Subject field's value as received, folding kept.
  const std::optional<std::string>& firstSubject() const { return firstSubject_; }
  int subjectCount() const { return subjectCount_; }

 private:
  // In the order received, each with its instance.
  std::vector<std::pair<std::string, int>> ownFields_;
  std::optional<std::string> firstSubject_;
  int subjectCount_ = 0;
};

/// True for a field name the milter itself writes (`X-Zentry-`, any case).
bool isOwnFieldName(std::string_view name);

}  // namespace zentry::milter
