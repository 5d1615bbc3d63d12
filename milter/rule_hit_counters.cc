#include "milter/rule_hit_counters.h"

#include "milter/prometheus_text.h"

namespace zentry::milter {

RuleHitCounters::RuleHitCounters() : table_(std::make_shared<const Table>()) {}

std::shared_ptr<const RuleHitCounters::Table> RuleHitCounters::table() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return table_;
}

void RuleHitCounters::setRuleLabels(const std::vector<std::string>& rawLabels) {
  const std::shared_ptr<const Table> old = table();
  auto fresh = std::make_shared<Table>();
  // A kept label shares its counter with the old table, so a hit counted on
  // the old table while this one is made is not lost.
  const auto counterFor = [&](const std::string& label) {
    const auto found = old->exposed.find(label);
    return found != old->exposed.end() ? found->second : std::make_shared<std::atomic<std::uint64_t>>(0);
  };
  for (const std::string& raw : rawLabels) {
    const std::string label = labelValueOf(raw);
    if (fresh->byLabel.count(label) != 0) continue;
    // Past the cap every further label joins one shared series.
    const std::string series = fresh->exposed.size() < maxLabels ? label : std::string(moreRulesLabel);
    Counter& counter = fresh->exposed[series];
    if (!counter) counter = counterFor(series);
    fresh->byLabel[label] = counter;
  }
  std::lock_guard<std::mutex> lock(mutex_);
  table_ = std::move(fresh);
}

void RuleHitCounters::countHit(const std::string& rawLabel) {
  const std::shared_ptr<const Table> current = table();
  const auto found = current->byLabel.find(labelValueOf(rawLabel));
  if (found != current->byLabel.end()) found->second->fetch_add(1, std::memory_order_relaxed);
}

std::vector<std::pair<std::string, std::uint64_t>> RuleHitCounters::counts() const {
  std::vector<std::pair<std::string, std::uint64_t>> out;
  for (const auto& [label, counter] : table()->exposed)
    out.emplace_back(label, counter->load(std::memory_order_relaxed));
  return out;
}

}  // namespace zentry::milter
