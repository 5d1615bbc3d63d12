#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>

#include "milter/action_plan.h"
#include "milter/atomic_histogram.h"
#include "milter/message_log.h"
#include "milter/rule_hit_counters.h"

namespace zentry::milter {

/// Why a message was answered with a temporary failure. A label value each,
/// in this order (see failureCauseName).
enum class FailureCause { tooLarge, scanFailed, listerUnavailable, rulesMissing, serverRefused, stopping };

/// What the milter counts for its metrics, and their exposition in the
/// Prometheus text format. Scans only add to atomics (the per-rule table is
/// looked up as RuleHitCounters says); no lock is held across a scan, and a
/// scrape never waits for one. One instance serves the process
/// (milterMetrics()); tests make their own.
class MilterMetrics {
 public:
  MilterMetrics();

  /// The scan mode and the action on a hit; set once before any thread starts.
  void setMode(bool strict, Action action);

  /// One message at its end: `outcome` as logged, `cause` meaningful for a
  /// failure, `action` the log's action text for a hit ("redirect+hold", say;
  /// another text counts as the configured action), `verdict` as scanned
  /// (empty when it was not), the milter's own time for the message and its
  /// size in bytes as received.
  void messageEnded(Outcome outcome, FailureCause cause, const std::string& action,
                    const ScanVerdict& verdict, std::chrono::nanoseconds taken, std::size_t bytes);

  /// The rules file was read and is now in force (`bytes` as read).
  void rulesLoaded(const std::string& bytes);
  void rulesLoadFailed() { rulesLoadFailures_.fetch_add(1, std::memory_order_relaxed); }

  void listerStarted() { listerStarts_.fetch_add(1, std::memory_order_relaxed); }
  /// `listed`: the lister answered in full; otherwise it failed.
  void listerEnded(bool listed);

  /// The whole exposition, every family with its HELP and TYPE lines.
  std::string exposition() const;

 private:
  static constexpr std::size_t verdictCount = 3;  // clean, hit, failed
  static constexpr std::size_t actionCount = 7;   // none, the four actions and redirect+hold, tempfail
  static constexpr std::size_t causeCount = 6;

  void appendMessages(std::string& out) const;
  void appendFailures(std::string& out) const;
  void appendStrict(std::string& out) const;
  void appendRules(std::string& out) const;

  std::string version_;
  bool strict_ = false;
  Action action_ = Action::redirect;

  std::array<std::array<std::atomic<std::uint64_t>, actionCount>, verdictCount> messages_{};
  std::array<std::atomic<std::uint64_t>, causeCount> failures_{};
  RuleHitCounters ruleHits_;
  AtomicHistogram scanNanoseconds_;
  AtomicHistogram messageBytes_;
  std::atomic<std::uint64_t> listerStarts_{0};
  std::atomic<std::uint64_t> listerFailures_{0};
  std::atomic<std::uint64_t> archivesListed_{0};
  std::atomic<std::uint64_t> archivesIncomplete_{0};

  std::atomic<std::uint64_t> rulesLoads_{0};
  std::atomic<std::uint64_t> rulesLoadFailures_{0};
  mutable std::mutex rulesMutex_;  // the three below; held to copy them, never during a scan
  std::uint64_t ruleCount_ = 0;
  double rulesLoadedAt_ = 0;  // Unix time, seconds
  std::string rulesSha256_;
};

/// The label value of a failure cause: too_large, scan_failed,
/// lister_unavailable, rules_missing, server_refused, stopping.
const char* failureCauseName(FailureCause cause);

/// The cause of a failed end from what the end of the message knows: a step
/// that failed unanswered, a message begun while the milter stops, a message
/// too large, a strict scan whose archive lister could not be started;
/// failing all of these, the server refused a change.
FailureCause failureCauseOf(bool recordingFailed, bool beganWhileStopping, bool oversized,
                            bool listerUnavailable = false);

/// The process's metrics, counted whether or not they are served.
MilterMetrics& milterMetrics();

/// Reports the end of one message to `metrics`: made when the end of a
/// message begins, told the outcome when it is known. One destroyed untold
/// (an exception left the end of the message, which the server is then
/// answered with a temporary failure) counts a failed scan.
class MessageEndReport {
 public:
  /// `bytes`: the message's size as received.
  MessageEndReport(MilterMetrics& metrics, std::size_t bytes)
      : metrics_(metrics), bytes_(bytes), started_(std::chrono::steady_clock::now()) {}
  ~MessageEndReport();
  MessageEndReport(const MessageEndReport&) = delete;
  MessageEndReport& operator=(const MessageEndReport&) = delete;

  /// As MilterMetrics::messageEnded, timed from this report's making.
  void ended(Outcome outcome, FailureCause cause, const std::string& action, const ScanVerdict& verdict);

 private:
  MilterMetrics& metrics_;
  std::size_t bytes_;
  std::chrono::steady_clock::time_point started_;
  bool told_ = false;
};

}  // namespace zentry::milter
