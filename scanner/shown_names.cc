#include "scanner/shown_names.h"

#include <algorithm>

namespace zentry {

void ShownNames::add(std::string name) {
  if (name.empty()) return;
  if (inOrder_.size() < linearSearchLimit) {
    if (std::find(inOrder_.begin(), inOrder_.end(), name) != inOrder_.end()) return;
  } else if (!addToSet(name)) {
    return;
  }
  makeRoomForOneMore();
  inOrder_.push_back(std::move(name));
}

void ShownNames::add(std::string_view name) {
  if (name.empty()) return;
  // A part shows one or two names as a rule: a look along the list is
  // cheapest then, and the set takes over only for a part that shows many.
  // The name is copied only once it is known to be new.
  if (inOrder_.size() < linearSearchLimit) {
    if (std::find(inOrder_.begin(), inOrder_.end(), name) != inOrder_.end()) return;
  } else if (!addToSet(std::string(name))) {
    return;
  }
  makeRoomForOneMore();
  inOrder_.emplace_back(name);
}

bool ShownNames::addToSet(const std::string& name) {
  if (held_ == nullptr) held_ = std::make_unique<std::unordered_set<std::string>>();
  if (held_->empty()) held_->insert(inOrder_.begin(), inOrder_.end());
  return held_->insert(name).second;
}

void ShownNames::makeRoomForOneMore() {
  if (inOrder_.size() < maxNames) return;
  if (held_ != nullptr) held_->erase(inOrder_.back());
  inOrder_.pop_back();
}

bool ShownNames::contains(std::string_view name) const {
  if (held_ == nullptr || held_->empty())
    return std::find(inOrder_.begin(), inOrder_.end(), name) != inOrder_.end();
  return held_->count(std::string(name)) != 0;
}

void ShownNames::clear() {
  inOrder_.clear();
  // Clearing even an empty set walks its buckets; most parts never fill it.
  if (held_ != nullptr && !held_->empty()) held_->clear();
}

}  // namespace zentry
