#include "milter/metrics_registry.h"

#include <ctime>
#include <vector>

#include "filter/rule_file.h"
#include "milter/prometheus_text.h"
#include "milter/rules_digest.h"
#include "platform/held_workspace.h"

namespace zentry::milter {
namespace {

constexpr std::uint64_t microsecond = 1000;
constexpr std::uint64_t millisecond = 1000 * microsecond;
constexpr std::uint64_t second = 1000 * millisecond;

// An everyday message takes tens of microseconds; a large one or a stalled
// archive lister, seconds.
const std::vector<std::uint64_t> scanBounds = {
    25 * microsecond,   50 * microsecond,   100 * microsecond, 250 * microsecond, 500 * microsecond,
    1 * millisecond,    2500 * microsecond, 5 * millisecond,   10 * millisecond,  25 * millisecond,
    50 * millisecond,   100 * millisecond,  250 * millisecond, 500 * millisecond, 1 * second,
    2500 * millisecond, 5 * second,         10 * second};
// From a short text to the largest message the milter holds (32 MiB by default).
const std::vector<std::uint64_t> sizeBounds = {1 << 10, 4 << 10, 16 << 10, 64 << 10, 256 << 10,
                                               1 << 20, 4 << 20, 16 << 20, 64 << 20};

const char* const verdictNames[] = {"clean", "hit", "failed"};
// The actions in the order of Action, then the one the log writes for a
// redirected message that is held as well.
const char* const actionNames[] = {"none", "redirect",      "reject",  "quarantine",
                                   "tag",  "redirect+hold", "tempfail"};
constexpr std::size_t tempfailSlot = 6;

std::size_t verdictIndex(Outcome outcome) {
  switch (outcome) {
    case Outcome::clean:
      return 0;
    case Outcome::hit:
      return 1;
    case Outcome::oversized:
    case Outcome::failed:
      break;
  }
  return 2;
}

// Index into actionNames: what was done with the message.
std::size_t actionIndex(std::size_t verdict, Action configured, const std::string& text = "") {
  if (verdict == 0) return 0;
  if (verdict == 2) return tempfailSlot;
  for (std::size_t slot = 1; slot < tempfailSlot; ++slot)
    if (text == actionNames[slot]) return slot;
  return 1 + static_cast<std::size_t>(configured);
}

std::string labelPair(const char* name, const std::string& value) {
  return name + ("=" + quotedLabel(value));
}

}  // namespace

const char* failureCauseName(FailureCause cause) {
  static const char* const names[] = {"too_large",     "scan_failed",    "lister_unavailable",
                                      "rules_missing", "server_refused", "stopping"};
  return names[static_cast<std::size_t>(cause)];
}

FailureCause failureCauseOf(bool recordingFailed, bool beganWhileStopping, bool oversized,
                            bool listerUnavailable) {
  if (recordingFailed) return FailureCause::scanFailed;
  if (beganWhileStopping) return FailureCause::stopping;
  if (oversized) return FailureCause::tooLarge;
  if (listerUnavailable) return FailureCause::listerUnavailable;
  return FailureCause::serverRefused;
}

MilterMetrics::MilterMetrics()
    : version_(ZENTRY_VERSION_TEXT), scanNanoseconds_(scanBounds, 1e9), messageBytes_(sizeBounds, 1) {}

void MilterMetrics::setMode(bool strict, Action action) {
  strict_ = strict;
  action_ = action;
}

void MilterMetrics::messageEnded(Outcome outcome, FailureCause cause, const std::string& action,
                                 const ScanVerdict& verdict, std::chrono::nanoseconds taken,
                                 std::size_t bytes) {
  const std::size_t verdictSlot = verdictIndex(outcome);
  messages_[verdictSlot][actionIndex(verdictSlot, action_, action)].fetch_add(1, std::memory_order_relaxed);
  if (verdictSlot == 2) failures_[static_cast<std::size_t>(cause)].fetch_add(1, std::memory_order_relaxed);
  if (outcome == Outcome::hit) ruleHits_.countHit(verdict.ruleLabel);
  archivesIncomplete_.fetch_add(verdict.incompleteArchives, std::memory_order_relaxed);
  // Only a message that was scanned tells the scan time.
  const bool scanned = verdictSlot != 2 || cause == FailureCause::serverRefused;
  if (scanned) scanNanoseconds_.observe(static_cast<std::uint64_t>(taken.count() < 0 ? 0 : taken.count()));
  messageBytes_.observe(bytes);
}

void MilterMetrics::rulesLoaded(const std::string& bytes) {
  // Read as the filter reads its rules file, so the labels are those a hit names.
  HeldWorkspace workspace;
  workspace.hold("zentry.dat", bytes);
  RuleList rules;
  loadRules(workspace, rules);
  std::vector<std::string> labels;
  for (const Rule& rule : rules) labels.emplace_back(rule.label.cStr());  // as a hit reports it
  ruleHits_.setRuleLabels(labels);
  const std::string digest = sha256Hex(bytes);
  {
    std::lock_guard<std::mutex> lock(rulesMutex_);
    ruleCount_ = rules.count();
    rulesLoadedAt_ = static_cast<double>(std::time(nullptr));
    rulesSha256_ = digest;
  }
  rulesLoads_.fetch_add(1, std::memory_order_relaxed);
}

void MilterMetrics::listerEnded(bool listed) {
  (listed ? archivesListed_ : listerFailures_).fetch_add(1, std::memory_order_relaxed);
}

void MilterMetrics::appendMessages(std::string& out) const {
  appendFamilyHead(out, "zentry_milter_messages_total", "counter",
                   "Messages that reached their end, by verdict and by the action taken.");
  for (std::size_t verdict = 0; verdict < verdictCount; ++verdict) {
    for (std::size_t action = 0; action < actionCount; ++action) {
      const std::uint64_t count = messages_[verdict][action].load(std::memory_order_relaxed);
      // The series a message of each verdict would add are there from the start.
      if (count == 0 && action != actionIndex(verdict, action_)) continue;
      appendSample(
          out, "zentry_milter_messages_total",
          labelPair("verdict", verdictNames[verdict]) + "," + labelPair("action", actionNames[action]),
          count);
    }
  }
  appendFamilyHead(out, "zentry_milter_rule_hits_total", "counter",
                   "Messages a rule hit, by the rule's label, for the labels of the rules in force.");
  for (const auto& [label, count] : ruleHits_.counts())
    appendSample(out, "zentry_milter_rule_hits_total", labelPair("rule", label), count);
}

void MilterMetrics::appendFailures(std::string& out) const {
  appendFamilyHead(out, "zentry_milter_temporary_failures_total", "counter",
                   "Messages answered with a temporary failure, by cause.");
  for (std::size_t cause = 0; cause < causeCount; ++cause) {
    appendSample(out, "zentry_milter_temporary_failures_total",
                 labelPair("cause", failureCauseName(static_cast<FailureCause>(cause))),
                 failures_[cause].load(std::memory_order_relaxed));
  }
}

void MilterMetrics::appendStrict(std::string& out) const {
  const struct {
    const char* name;
    const char* help;
    const std::atomic<std::uint64_t>& value;
  } counters[] = {
      {"zentry_milter_archives_listed_total", "Archives the archive lister listed to the end (strict mode).",
       archivesListed_},
      {"zentry_milter_archives_incomplete_total",
       "Archives marked incomplete-archive, inside archives too (strict mode).", archivesIncomplete_},
      {"zentry_milter_archive_lister_starts_total", "Runs of the archive lister begun (strict mode).",
       listerStarts_},
      {"zentry_milter_archive_lister_failures_total",
       "Runs of the archive lister that failed: missing, killed, out of time, or a garbled answer.",
       listerFailures_},
  };
  for (const auto& counter : counters) {
    appendFamilyHead(out, counter.name, "counter", counter.help);
    appendSample(out, counter.name, "", counter.value.load(std::memory_order_relaxed));
  }
}

void MilterMetrics::appendRules(std::string& out) const {
  std::uint64_t count = 0;
  double loadedAt = 0;
  std::string digest;
  {
    std::lock_guard<std::mutex> lock(rulesMutex_);
    count = ruleCount_;
    loadedAt = rulesLoadedAt_;
    digest = rulesSha256_;
  }
  appendFamilyHead(out, "zentry_milter_rules", "gauge", "Rules in force.");
  appendSample(out, "zentry_milter_rules", "", count);
  appendFamilyHead(out, "zentry_milter_rules_last_load_timestamp_seconds", "gauge",
                   "When the rules in force were read, in seconds since the epoch.");
  appendSample(out, "zentry_milter_rules_last_load_timestamp_seconds", "", loadedAt);
  appendFamilyHead(out, "zentry_milter_rules_loads_total", "counter",
                   "Reads of the rules file that succeeded.");
  appendSample(out, "zentry_milter_rules_loads_total", "", rulesLoads_.load(std::memory_order_relaxed));
  appendFamilyHead(out, "zentry_milter_rules_load_failures_total", "counter",
                   "Reads of the rules file that failed; the rules read before stay in force.");
  appendSample(out, "zentry_milter_rules_load_failures_total", "",
               rulesLoadFailures_.load(std::memory_order_relaxed));
  appendFamilyHead(out, "zentry_milter_rules_info", "gauge",
                   "The rules file in force, by the SHA-256 of its bytes; always 1.");
  appendSample(out, "zentry_milter_rules_info", labelPair("sha256", digest), std::uint64_t{1});
}

std::string MilterMetrics::exposition() const {
  std::string out;
  appendFamilyHead(out, "zentry_milter_build_info", "gauge",
                   "The milter's version and scan mode (exact or strict); always 1.");
  appendSample(out, "zentry_milter_build_info",
               labelPair("version", version_) + "," + labelPair("mode", strict_ ? "strict" : "exact"),
               std::uint64_t{1});
  appendMessages(out);
  appendFailures(out);
  appendStrict(out);
  appendFamilyHead(out, "zentry_milter_scan_duration_seconds", "histogram",
                   "The milter's own time for a scanned message at its end: scan and changes.");
  scanNanoseconds_.appendSamples(out, "zentry_milter_scan_duration_seconds");
  appendFamilyHead(out, "zentry_milter_message_size_bytes", "histogram", "Message sizes as received.");
  messageBytes_.appendSamples(out, "zentry_milter_message_size_bytes");
  appendRules(out);
  return out;
}

MilterMetrics& milterMetrics() {
  // Never destroyed: a thread may still scrape or count while the process exits.
  static MilterMetrics* const metrics = new MilterMetrics;
  return *metrics;
}

MessageEndReport::~MessageEndReport() {
  if (told_) return;
  try {
    metrics_.messageEnded(Outcome::failed, FailureCause::scanFailed, "", ScanVerdict{},
                          std::chrono::steady_clock::now() - started_, bytes_);
  } catch (
      ...) {  // NOLINT(bugprone-empty-catch): a count lost is better than an exception out of a destructor
  }
}

void MessageEndReport::ended(Outcome outcome, FailureCause cause, const std::string& action,
                             const ScanVerdict& verdict) {
  told_ = true;
  metrics_.messageEnded(outcome, cause, action, verdict, std::chrono::steady_clock::now() - started_, bytes_);
}

}  // namespace zentry::milter
