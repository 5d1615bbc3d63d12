#include "host/replay.h"

#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <mutex>
#include <thread>

#include "core/string.h"
#include "host/exit_codes.h"
#include "host/host_inputs.h"
#include "host/in_process_scan.h"
#include "host/mailbox_reader.h"
#include "host/message_run.h"
#include "host/routing_writer.h"
#include "host/row_spool.h"
#include "scanner/encoded_text.h"

namespace zentry::host {
namespace {

constexpr std::size_t progressWidth = 40;
constexpr std::size_t reportSubjectLimit = 998;
// A message up to this size (stored form) is scanned from memory; a larger
// one goes on into its slot's working directory and is read from there, so
// that a replay needs the same memory for messages of any size.
constexpr std::size_t heldMessageLimit = 256 * 1024;
// Finished rows wait in memory only until the rows before them are done;
// the reader waits when the oldest unfinished row is this far behind.
constexpr std::size_t rowWindowPerJob = 32;

// One message on its way from the reader to a worker: stored in memory or
// in the slot's working directory. The reader fills free slots, the workers
// take full ones; there are twice as many slots as workers, so that a worker
// finds the next message read while it scanned the last.
struct Slot {
  std::unique_ptr<WorkDir> dir;
  RoutingWriter writer;
  std::string id;
  std::size_t row = 0;  ///< its place in the report
};

struct SharedWork {
  MailboxReader* reader;
  const HostInputs* inputs;
  std::vector<std::string> arguments;  ///< the filter's: mailbox, "debug", maybe "strict"
  bool isolate = false;
  std::vector<std::unique_ptr<Slot>> slots;

  std::mutex lock;  // guards everything below but the atomics
  std::condition_variable changed;
  std::deque<Slot*> freeSlots, fullSlots;
  bool readingDone = false;
  // Rows from number `flushed` on, in mailbox order; a row that is not done
  // is empty. Done rows at the front go to the spool.
  std::deque<std::optional<ReplayRow>> pending;
  std::size_t flushed = 0;
  std::size_t rowWindow = 0;
  RowSpool spool;
  ReportWriter report{ReportFormat::text};
  ReportTotals totals;
  std::vector<std::string> skipped;  ///< only the reader adds

  std::atomic<int> stopCode{0};  ///< set: the replay stops and exits with it
  std::atomic<std::size_t> threadsLeft{0};
  std::atomic<std::size_t> finished{0};  ///< rows done, for the progress line
};

// The first failure that stops the replay gives its exit code and its one
// message. Called where memory may have run out, so nothing is allocated.
void stop(SharedWork& shared, int exitCode, const char* what, const char* why) {
  int none = 0;
  if (shared.stopCode.compare_exchange_strong(none, exitCode))
    std::fprintf(stderr, "zentry-host: %s: %s\n", what, why);
  shared.changed.notify_all();
}

bool stopping(const SharedWork& shared) { return shared.stopCode.load() != 0 || interrupted(); }

// Waits under `hold` until `ready` or the replay stops; false when it stops.
// A signal handler cannot notify, so the wait looks again now and then.
template <typename Ready>
bool waitFor(SharedWork& shared, std::unique_lock<std::mutex>& hold, Ready ready) {
  while (!ready()) {
    if (stopping(shared)) return false;
    shared.changed.wait_for(hold, std::chrono::milliseconds(100));
  }
  return !stopping(shared);
}

// Reserves the next row of the report; false when the replay stops.
bool reserveRow(SharedWork& shared, std::size_t* row) {
  std::unique_lock<std::mutex> hold(shared.lock);
  if (!waitFor(shared, hold, [&] { return shared.pending.size() < shared.rowWindow; })) return false;
  *row = shared.flushed + shared.pending.size();
  shared.pending.emplace_back();
  return true;
}

void finishRow(SharedWork& shared, std::size_t row, ReplayRow done) {
  {
    const std::lock_guard<std::mutex> hold(shared.lock);
    shared.pending[row - shared.flushed] = std::move(done);
    std::string error;
    while (!shared.pending.empty() && shared.pending.front()) {
      const ReplayRow& first = *shared.pending.front();
      if (!shared.spool.append(first, &error))
        stop(shared, exitTempFail, "cannot keep the report", error.c_str());
      shared.report.measure(first);
      shared.totals.add(first);
      shared.pending.pop_front();
      ++shared.flushed;
      shared.finished.fetch_add(1);
    }
  }
  shared.changed.notify_all();
}

Slot* takeSlot(SharedWork& shared, std::deque<Slot*> SharedWork::*queue, bool untilReadingDone) {
  std::unique_lock<std::mutex> hold(shared.lock);
  std::deque<Slot*>& slots = shared.*queue;
  if (!waitFor(shared, hold, [&] { return !slots.empty() || (untilReadingDone && shared.readingDone); }) ||
      slots.empty())
    return nullptr;
  Slot* slot = slots.front();
  slots.pop_front();
  return slot;
}

void putSlot(SharedWork& shared, std::deque<Slot*> SharedWork::*queue, Slot* slot) {
  {
    const std::lock_guard<std::mutex> hold(shared.lock);
    (shared.*queue).push_back(slot);
  }
  shared.changed.notify_all();
}

ReplayRow failedRow(const std::string& id, const std::string& problem) {
  ReplayRow row;
  row.id = id;
  row.result = ReplayRow::Result::failed;
  row.problem = problem;
  return row;
}

// Stores the next message in a free slot; false at the end of the mailbox,
// when the replay stops, or when a message could not be stored: it gets a
// failed row and ends the reading, since an mbox cannot be resumed in the
// middle of a message.
bool readOne(SharedWork& shared) {
  Slot* slot = takeSlot(shared, &SharedWork::freeSlots, false);
  if (slot == nullptr) return false;
  const std::string path = slot->dir->path() + "/routing.dat";
  std::string problem;
  MailboxReader::Next next = MailboxReader::Next::failed;
  if (!shared.isolate) {
    slot->writer.openHeld(path, heldMessageLimit);
    next = shared.reader->next(slot->writer, &slot->id, &problem);
  } else if (slot->writer.open(path, &problem)) {
    next = shared.reader->next(slot->writer, &slot->id, &problem);
  }
  if (next == MailboxReader::Next::skipped) shared.skipped.push_back(problem);
  const bool stored = next == MailboxReader::Next::message && slot->writer.close(&problem);
  if (next == MailboxReader::Next::end || next == MailboxReader::Next::skipped ||
      !reserveRow(shared, &slot->row)) {
    putSlot(shared, &SharedWork::freeSlots, slot);
    return next == MailboxReader::Next::skipped;
  }
  if (!stored) {
    finishRow(shared, slot->row, failedRow(slot->id, problem));
    putSlot(shared, &SharedWork::freeSlots, slot);
    return false;
  }
  putSlot(shared, &SharedWork::fullSlots, slot);
  return true;
}

void readMessages(SharedWork& shared) {
  while (!stopping(shared) && readOne(shared)) {
  }
  {
    const std::lock_guard<std::mutex> hold(shared.lock);
    shared.readingDone = true;
  }
  shared.changed.notify_all();
}

FilterResult scanSlot(SharedWork& shared, Slot& slot, const SubjectField& subject, int slotNumber) {
  if (shared.isolate)
    return runStoredMessage(*slot.dir, shared.inputs->filterPath, subject.value, shared.arguments,
                            slotNumber);
  ReplayWorkspace files;
  if (slot.writer.held()) {
    files.hold("routing.dat", slot.writer.heldBytes());
  } else {
    files.holdFile("routing.dat", slot.dir->path() + "/routing.dat");
  }
  files.hold("zentry.dat", shared.inputs->rules);
  return scanInProcess(files, subject.value, shared.arguments);
}

void scanMessages(SharedWork& shared, int slotNumber) {
  while (Slot* slot = takeSlot(shared, &SharedWork::fullSlots, true)) {
    const SubjectField subject = slot->writer.subject();
    reportSubjectCuts(subject, "message " + slot->id + ": ");
    const FilterResult result = scanSlot(shared, *slot, subject, slotNumber);
    if (result.unusable) stop(shared, exitConfig, "the filter cannot run", result.error.c_str());
    finishRow(shared, slot->row, rowFor(slot->id, subject.value, result));
    putSlot(shared, &SharedWork::freeSlots, slot);
  }
}

// Every thread's body: out of memory or threads, the replay stops and asks
// to be tried again; the working directories go when the slots do.
template <typename Body>
void guarded(SharedWork& shared, Body body) {
  try {
    body();
  } catch (const std::exception& failure) {
    stop(shared, exitTempFail, "out of resources", failure.what());
  }
  shared.threadsLeft.fetch_sub(1);
  shared.changed.notify_all();
}

void showProgress(const SharedWork& shared, bool enabled, std::chrono::steady_clock::time_point start) {
  if (!enabled) return;
  for (;;) {
    const std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - start;
    const double rate = static_cast<double>(shared.finished.load()) / std::max(seconds.count(), 1e-9);
    std::fprintf(stderr, "\r%s  %.0f messages/s",
                 progressBar(shared.reader->done(), shared.reader->total(), progressWidth).c_str(), rate);
    if (shared.threadsLeft.load() == 0 || interrupted() || shared.stopCode.load() != 0) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  std::fprintf(stderr, "\r\033[K");
}

int exitCodeFor(const ReportTotals& totals, const std::vector<std::string>& skipped) {
  if (totals.failed > 0) return exitSoftware;
  return skipped.empty() ? exitClean : exitDataError;
}

// The report goes out in pieces as the spool is read back; false when
// standard output fails.
bool writeReport(SharedWork& shared, std::string* error) {
  // The widths were measured as the rows went by; only text uses them.
  const ReportWriter& writer = shared.report;
  std::string out = writer.head();
  bool written = true;
  const auto put = [&](bool last) {
    if (!last && out.size() < 64 * 1024) return;
    written = written && std::fwrite(out.data(), 1, out.size(), stdout) == out.size();
    out.clear();
  };
  std::size_t index = 0;
  if (!shared.spool.forEach(
          [&](const ReplayRow& row) {
            out += writer.row(row, index++);
            put(false);
          },
          error))
    return false;
  out += writer.tail(shared.totals, shared.skipped);
  put(true);
  if (!written || std::fflush(stdout) != 0) {
    *error = "cannot write the report";
    return false;
  }
  return true;
}

double cpuSeconds() {
  double seconds = 0;
  for (const int who : {RUSAGE_SELF, RUSAGE_CHILDREN}) {
    rusage usage{};
    if (getrusage(who, &usage) != 0) continue;
    for (const timeval& time : {usage.ru_utime, usage.ru_stime})
      seconds += static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_usec) / 1e6;
  }
  return seconds;
}

// True when the text holds encoded words and every one names Latin-1 or its
// Windows form, so that their decoded 8-bit bytes are Latin-1 letters.
bool wordsAreLatin1(const std::string& raw) {
  bool any = false;
  for (std::size_t at = raw.find("=?"); at != std::string::npos; at = raw.find("=?", at + 2)) {
    const std::size_t end = raw.find_first_of("?*", at + 2);
    if (end == std::string::npos) break;
    std::string charset = raw.substr(at + 2, end - at - 2);
    for (char& c : charset) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (charset != "iso-8859-1" && charset != "latin1" && charset != "windows-1252" && charset != "us-ascii")
      return false;
    any = true;
    at = raw.find("?=", end + 1);  // past this word's text
    if (at == std::string::npos) break;
  }
  return any;
}

// The subject as a person reads it: trimmed, its encoded words decoded as
// strict mode decodes them, and Latin-1 letters written in UTF-8 so that a
// terminal and JSON show them.
std::string decodedSubject(const std::string& raw) {
  String trimmed(raw.c_str());
  trimmed.trimLeft();
  trimmed.trimRight();
  std::string decoded = decodeEncodedWords(trimmed.cStr());
  if (!wordsAreLatin1(raw)) return decoded;
  std::string utf8;
  for (const char c : decoded) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x80) {
      utf8 += c;
    } else {
      utf8 += static_cast<char>(0xC0 | (byte >> 6));
      utf8 += static_cast<char>(0x80 | (byte & 0x3F));
    }
  }
  return utf8;
}

// Makes the slots, each with a working directory of its own (holding the
// rules when a filter process runs there); false after saying why.
bool makeSlots(SharedWork& shared, std::size_t count) {
  std::string error;
  for (std::size_t i = 0; i < count; ++i) {
    auto slot = std::make_unique<Slot>();
    slot->dir = WorkDir::create(&error);
    if (slot->dir == nullptr ||
        (shared.isolate && !slot->dir->writeFile("zentry.dat", shared.inputs->rules, &error))) {
      stop(shared, exitTempFail, "no working directory", error.c_str());
      return false;
    }
    shared.freeSlots.push_back(slot.get());
    shared.slots.push_back(std::move(slot));
  }
  return true;
}

// Runs the reader and `jobs` workers to the end of the mailbox or a stop.
void runThreads(SharedWork& shared, std::size_t jobs, bool progress,
                std::chrono::steady_clock::time_point start) {
  std::vector<std::thread> threads;
  shared.threadsLeft.store(jobs + 1);
  // Every started thread is joined whatever fails here: a thread object
  // destroyed unjoined would abort the process with directories left behind.
  try {
    threads.emplace_back([&shared] { guarded(shared, [&shared] { readMessages(shared); }); });
    for (std::size_t slot = 0; slot < jobs; ++slot) {
      const int number = static_cast<int>(slot);
      threads.emplace_back(
          [&shared, number] { guarded(shared, [&shared, number] { scanMessages(shared, number); }); });
    }
    showProgress(shared, progress, start);
  } catch (const std::exception& failure) {
    shared.threadsLeft.fetch_sub(jobs + 1 - threads.size());  // those never started
    stop(shared, exitTempFail, "cannot run the jobs", failure.what());
  }
  for (std::thread& thread : threads) thread.join();
}

}  // namespace

ReplayRow rowFor(const std::string& id, const std::optional<std::string>& subject,
                 const FilterResult& result) {
  ReplayRow row;
  row.id = id;
  if (subject) {
    // A report row keeps no more of a subject than a header line may hold,
    // so that a mailbox of many long subjects cannot exhaust the memory.
    row.subject = subject->substr(0, reportSubjectLimit);
    row.decodedSubject = decodedSubject(*subject).substr(0, reportSubjectLimit);
  }
  if (result.status == FilterResult::Status::notStarted) {
    row.result = ReplayRow::Result::failed;
    row.problem = result.error;
  } else if (result.status == FilterResult::Status::killed) {
    row.result = ReplayRow::Result::failed;
    row.problem = "killed by signal " + std::to_string(result.signal);
  } else if (result.exitCode != 0) {
    row.result = ReplayRow::Result::failed;
    row.problem = "exit code " + std::to_string(result.exitCode);
  } else {
    const FilterTrace trace = parseFilterOutput(result.output, subject);
    if (trace.hit) {
      row.result = ReplayRow::Result::hit;
      row.label = trace.label;
      row.name = trace.matchedName;
    }
  }
  return row;
}

int runReplay(const Options& options) {
  int exitCode = exitClean;
  HostInputs inputs;
  if (!loadHostInputs(options, &inputs, &exitCode)) return exitCode;
  std::unique_ptr<MailboxReader> reader;
  std::string error;
  switch (MailboxReader::open(options.input, &reader, &error)) {
    case MailboxStatus::ok:
      break;
    case MailboxStatus::missing:
    case MailboxStatus::unreadable:
      complain(error);
      return exitNoInput;
    case MailboxStatus::notMailbox:
      complain(error);
      return exitDataError;
  }

  SharedWork shared;
  shared.reader = reader.get();
  shared.inputs = &inputs;
  shared.isolate = options.isolate;
  shared.arguments = {options.mailbox, "debug"};
  if (options.strict) shared.arguments.emplace_back("strict");
  shared.report = ReportWriter(options.format);
  const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
  const std::size_t jobs = std::min<std::size_t>(options.jobs != 0 ? options.jobs : cores, maxSlots);
  shared.rowWindow = rowWindowPerJob * jobs;
  if (!shared.spool.open(&error)) {
    complain(error);
    return exitTempFail;
  }
  if (!makeSlots(shared, 2 * jobs)) return exitTempFail;
  if (!shared.isolate) useArchiveListerProcess();

  installSignalHandlers();
  const auto start = std::chrono::steady_clock::now();
  runThreads(shared, jobs, options.progress && isatty(STDERR_FILENO), start);
  const std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - start;
  shared.slots.clear();  // the working directories, before a signal ends us
  reraiseIfInterrupted();
  if (const int stopCode = shared.stopCode.load()) return stopCode;

  for (const std::string& reason : shared.skipped) complain("skipped " + reason);
  if (shared.totals.messages == 0) {
    complain(options.input + ": no messages found");
    return exitDataError;
  }
  if (!writeReport(shared, &error)) {
    complain(error);
    return exitIoError;
  }
  if (options.format == ReportFormat::csv)
    std::fprintf(stderr, "%s\n", totalsLine(shared.totals, shared.skipped.size()).c_str());
  const auto messages = static_cast<double>(shared.totals.messages);
  std::fprintf(stderr,
               "zentry-host: %zu messages in %.2f s (%.0f messages/s, %.3f ms CPU each, %zu jobs, %s)\n",
               shared.totals.messages, seconds.count(), messages / std::max(seconds.count(), 1e-9),
               cpuSeconds() * 1000 / messages, jobs, shared.isolate ? "one process each" : "in process");
  return exitCodeFor(shared.totals, shared.skipped);
}

}  // namespace zentry::host
