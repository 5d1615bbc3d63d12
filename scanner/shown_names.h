#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

namespace zentry {

/// The distinct names of one part, in the order they were first found. At
/// most maxNames are held: past them the last one held gives way to each
/// newer one, so the first names and the very last always count.
class ShownNames {
 public:
  static constexpr std::size_t maxNames = 200;

  /// Adds a name unless it is empty or already held.
  void add(std::string name);
  void add(std::string_view name);
  bool contains(std::string_view name) const;
  const std::vector<std::string>& inOrder() const { return inOrder_; }
  void clear();

 private:
  static constexpr std::size_t linearSearchLimit = 8;
  /// False when the set already holds the name.
  bool addToSet(const std::string& name);
  /// At the bound, the last name held gives way.
  void makeRoomForOneMore();
  std::vector<std::string> inOrder_;
  // Made only for a part that shows many names: most parts never need it,
  // and a part header that holds none is built and dropped at no cost.
  std::unique_ptr<std::unordered_set<std::string>> held_;
};

}  // namespace zentry
