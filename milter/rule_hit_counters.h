#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace zentry::milter {

/// Hits per rule label, for the labels of the rules in force. The set of
/// labels is replaced at each load of the rules: a label kept keeps its
/// count, a new one starts at 0, one no longer in the rules is dropped with
/// its count (so the series count follows the rules file, not its history).
/// Scans count without a lock: they take the current table (a shared
/// pointer, copied under a mutex held for that copy alone) and add to its
/// atomic counter; a table is never changed once made.
class RuleHitCounters {
 public:
  /// At most this many labels get a series of their own, the first ones in
  /// the file; hits on rules past them count under `moreRulesLabel`.
  static constexpr std::size_t maxLabels = 1000;
  static constexpr const char* moreRulesLabel = "(more rules)";

  RuleHitCounters();

  /// The labels of the rules now in force, in file order, as the rules file
  /// holds them (duplicates allowed).
  void setRuleLabels(const std::vector<std::string>& rawLabels);

  /// One hit on the rule labelled `rawLabel`. A label not in the rules in
  /// force (a scan that began under rules replaced since) is not counted.
  void countHit(const std::string& rawLabel);

  /// Each exposed label with its count, ordered by label.
  std::vector<std::pair<std::string, std::uint64_t>> counts() const;

 private:
  using Counter = std::shared_ptr<std::atomic<std::uint64_t>>;
  struct Table {
    std::map<std::string, Counter> byLabel;  // every label in force; those past the cap share one counter
    std::map<std::string, Counter> exposed;  // the series shown
  };
  std::shared_ptr<const Table> table() const;

  mutable std::mutex mutex_;
  std::shared_ptr<const Table> table_;  // guarded by mutex_
};

}  // namespace zentry::milter
