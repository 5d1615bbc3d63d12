#include "scanner/examined_bodies.h"

#include <cstring>
#include <functional>
#include <new>

namespace zentry {

std::size_t ExaminedBodies::defaultHash(std::string_view bytes) {
  return std::hash<std::string_view>()(bytes);
}

bool ExaminedBodies::firstTime(const std::string& name, const unsigned char* data, std::size_t size,
                               bool truncated) {
  if (size > maxKeptBodyBytes) return true;
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const std::size_t key = hash_(bytes);
  const auto [first, last] = kept_.equal_range(key);
  for (auto entry = first; entry != last; ++entry) {
    const Kept& kept = entry->second;
    if (kept.truncated == truncated && kept.name == name && kept.bytes == bytes) return false;
  }
  const std::size_t cost = name.size() + size;
  if (keptBytes_ + cost > maxKeptBytes) return true;
  try {
    kept_.emplace(key, Kept{name, std::string(bytes), truncated});
    keptBytes_ += cost;
  } catch (const std::bad_alloc&) {
    // Not kept: the body is examined again if it is met again.
  }
  return true;
}

}  // namespace zentry
