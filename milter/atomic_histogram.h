#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace zentry::milter {

/// A Prometheus histogram that any number of threads observe at once without
/// a lock: one relaxed atomic per bucket and one for the sum. Values are whole
/// counts of a small unit (nanoseconds, bytes), so the sum is an exact integer;
/// `unitsPerBaseUnit` turns them into the base unit the exposition shows
/// (1e9 for nanoseconds to seconds).
class AtomicHistogram {
 public:
  /// `upperBounds` ascending, in the small unit; a last "+Inf" bucket is added.
  AtomicHistogram(std::vector<std::uint64_t> upperBounds, double unitsPerBaseUnit);

  void observe(std::uint64_t value);

  /// The _bucket, _sum and _count lines under `name` (the HELP and TYPE lines
  /// are the caller's). Buckets are read one by one while others observe, so
  /// a scrape may miss an observation in progress, but _count always equals
  /// the "+Inf" bucket and no bucket exceeds the next.
  void appendSamples(std::string& out, const std::string& name) const;

 private:
  std::vector<std::uint64_t> upperBounds_;
  double unitsPerBaseUnit_;
  std::unique_ptr<std::atomic<std::uint64_t>[]> counts_;  // one per bound, then one past the last
  std::atomic<std::uint64_t> sum_{0};
};

}  // namespace zentry::milter
