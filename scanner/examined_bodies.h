#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>

namespace zentry {

/// The bodies one message's walks have handed to attachment examination, so
/// that a body a later walk finds again (same name, same bytes) is not
/// listed again. A body counts as seen only when its bytes are compared
/// whole with one kept: a hash alone could be made to collide by a sender,
/// and the body that collides would never be looked into. Bodies above
/// maxKeptBodyBytes, or past maxKeptBytes in all, are not kept and are
/// examined every time they are met: repeating the work is safe, skipping
/// it is not.
class ExaminedBodies {
 public:
  static constexpr std::size_t maxKeptBodyBytes = std::size_t{1} << 20;
  static constexpr std::size_t maxKeptBytes = std::size_t{16} << 20;

  using Hash = std::size_t (*)(std::string_view);
  /// `hash` only spreads the bodies kept; tests pass one that collides.
  explicit ExaminedBodies(Hash hash = defaultHash) : hash_(hash) {}

  /// True when the body was not examined before in this message; it is
  /// then noted (when it fits the bounds) as examined.
  bool firstTime(const std::string& name, const unsigned char* data, std::size_t size, bool truncated);

 private:
  static std::size_t defaultHash(std::string_view bytes);

  struct Kept {
    std::string name;
    std::string bytes;
    bool truncated = false;
  };
  Hash hash_;
  std::unordered_multimap<std::size_t, Kept> kept_;
  std::size_t keptBytes_ = 0;
};

}  // namespace zentry
