#include "milter/atomic_histogram.h"

#include <algorithm>

#include "milter/prometheus_text.h"

namespace zentry::milter {

AtomicHistogram::AtomicHistogram(std::vector<std::uint64_t> upperBounds, double unitsPerBaseUnit)
    : upperBounds_(std::move(upperBounds)),
      unitsPerBaseUnit_(unitsPerBaseUnit),
      counts_(new std::atomic<std::uint64_t>[upperBounds_.size() + 1]) {
  for (std::size_t i = 0; i <= upperBounds_.size(); ++i) counts_[i].store(0, std::memory_order_relaxed);
}

void AtomicHistogram::observe(std::uint64_t value) {
  // The first bound not below the value: buckets are "less than or equal".
  const auto bucket =
      std::lower_bound(upperBounds_.begin(), upperBounds_.end(), value) - upperBounds_.begin();
  counts_[static_cast<std::size_t>(bucket)].fetch_add(1, std::memory_order_relaxed);
  sum_.fetch_add(value, std::memory_order_relaxed);
}

void AtomicHistogram::appendSamples(std::string& out, const std::string& name) const {
  // Each bucket is read once and summed here, so the cumulative counts only
  // grow from bucket to bucket whatever the observers do meanwhile.
  std::uint64_t cumulative = 0;
  for (std::size_t i = 0; i <= upperBounds_.size(); ++i) {
    cumulative += counts_[i].load(std::memory_order_relaxed);
    const std::string bound = i < upperBounds_.size()
                                  ? numberText(static_cast<double>(upperBounds_[i]) / unitsPerBaseUnit_)
                                  : std::string("+Inf");
    appendSample(out, name + "_bucket", "le=" + quotedLabel(bound), cumulative);
  }
  appendSample(out, name + "_sum", "",
               static_cast<double>(sum_.load(std::memory_order_relaxed)) / unitsPerBaseUnit_);
  appendSample(out, name + "_count", "", cumulative);
}

}  // namespace zentry::milter
