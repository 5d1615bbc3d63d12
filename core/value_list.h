#pragma once

#include <cstdint>
#include <iterator>
#include <list>
#include <utility>

namespace zentry {

/// An ordered list holding copies of its elements. Only insertion at the end,
/// removal of the last element, moving elements from another list to the
/// end, clearing and visiting first to last are used.
template <typename Element>
class ValueList {
 public:
  using const_iterator = typename std::list<Element>::const_iterator;

  void pushBack(const Element& element) { elements_.push_back(element); }
  /// Builds the new last element in place from `arguments`, with no copy.
  template <typename... Arguments>
  void emplaceBack(Arguments&&... arguments) {
    elements_.emplace_back(std::forward<Arguments>(arguments)...);
  }
  /// Moves every element of `other` to the end, in order, without a copy.
  void takeAll(ValueList& other) { elements_.splice(elements_.end(), other.elements_); }
  /// Moves each element of `other` for which `take` is true to the end, in
  /// order, without a copy; the rest stay in `other`.
  template <typename Predicate>
  void takeEach(ValueList& other, Predicate take) {
    for (auto it = other.elements_.begin(); it != other.elements_.end();) {
      const auto next = std::next(it);
      if (take(*it)) elements_.splice(elements_.end(), other.elements_, it);
      it = next;
    }
  }
  /// Callers never pop an empty list.
  void popBack() { elements_.pop_back(); }
  /// Destroys the elements first to last; the list stays usable.
  void clear() {
    while (!elements_.empty()) elements_.pop_front();
  }
  ~ValueList() { clear(); }

  ValueList() = default;
  ValueList(const ValueList&) = delete;
  ValueList& operator=(const ValueList&) = delete;

  std::uint32_t count() const { return static_cast<std::uint32_t>(elements_.size()); }
  bool empty() const { return elements_.empty(); }
  const Element& back() const { return elements_.back(); }
  Element& back() { return elements_.back(); }
  const_iterator begin() const { return elements_.begin(); }
  const_iterator end() const { return elements_.end(); }

 private:
  std::list<Element> elements_;
};

}  // namespace zentry
