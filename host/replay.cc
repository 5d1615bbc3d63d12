#include "host/replay.h"

#include <unistd.h>

#include <atomic>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <deque>
#include <mutex>
#include <thread>

#include "core/string.h"
#include "host/exit_codes.h"
#include "host/host_inputs.h"
#include "host/mailbox_reader.h"
#include "host/message_run.h"
#include "host/routing_writer.h"
#include "scanner/encoded_text.h"

namespace zentry::host {
namespace {

constexpr std::size_t progressWidth = 40;
constexpr std::size_t reportSubjectLimit = 998;

// The workers take turns at the reader; each stores its message in its own
// working directory and runs the filter there while the others read on.
struct SharedWork {
  MailboxReader* reader;
  const HostInputs* inputs;
  std::string interceptMailbox;
  std::mutex lock;             // guards reader, rows' growth, skipped
  std::deque<ReplayRow> rows;  // a deque: growing keeps the rows in place
  std::vector<std::string> skipped;
  bool readerBroken = false;
  bool strict = false;
  std::atomic<int> stopCode{0};  ///< set: the replay stops and exits with it
  std::atomic<std::size_t> workersLeft{0};
};

// The first failure that stops the replay gives its exit code and its one
// message. Called where memory may have run out, so nothing is allocated.
void stop(SharedWork& shared, int exitCode, const char* what, const char* why) {
  int none = 0;
  if (shared.stopCode.compare_exchange_strong(none, exitCode))
    std::fprintf(stderr, "zentry-host: %s: %s\n", what, why);
}

// Stores the next message in this worker's routing.dat; null at the end. The
// row is reserved here, so rows stay in mailbox order whoever finishes first.
// A message that could not be stored gets a failed row and ends the reading:
// an mbox cannot be resumed in the middle of a message.
ReplayRow* takeNext(SharedWork& shared, RoutingWriter& writer, const WorkDir& dir) {
  const std::lock_guard<std::mutex> hold(shared.lock);
  for (;;) {
    if (shared.readerBroken) return nullptr;
    std::string id, problem;
    MailboxReader::Next next = MailboxReader::Next::failed;
    if (writer.open(dir.path() + "/routing.dat", &problem)) next = shared.reader->next(writer, &id, &problem);
    if (next == MailboxReader::Next::end) return nullptr;
    if (next == MailboxReader::Next::skipped) {
      shared.skipped.push_back(problem);
      continue;
    }
    shared.rows.push_back(ReplayRow{});
    ReplayRow* row = &shared.rows.back();
    row->id = id;
    if (next == MailboxReader::Next::message && writer.close(&problem)) return row;
    row->result = ReplayRow::Result::failed;
    row->problem = problem;
    shared.readerBroken = true;
    return nullptr;
  }
}

void replayMessages(SharedWork& shared, int slot) {
  std::string error;
  const std::unique_ptr<WorkDir> dir = WorkDir::create(&error);
  if (dir == nullptr || !dir->writeFile("zentry.dat", shared.inputs->rules, &error)) {
    stop(shared, exitTempFail, "no working directory", error.c_str());
    return;
  }
  std::vector<std::string> arguments{shared.interceptMailbox, "debug"};
  if (shared.strict) arguments.emplace_back("strict");
  const auto writer = std::make_unique<RoutingWriter>();
  while (!interrupted() && shared.stopCode.load() == 0) {
    ReplayRow* row = takeNext(shared, *writer, *dir);
    if (row == nullptr) break;
    const SubjectField subject = writer->subject();
    reportSubjectCuts(subject, "message " + row->id + ": ");
    const FilterResult result =
        runStoredMessage(*dir, shared.inputs->filterPath, subject.value, arguments, slot);
    if (result.unusable) stop(shared, exitConfig, "the filter cannot run", result.error.c_str());
    *row = rowFor(row->id, subject.value, result);
  }
}

void work(SharedWork& shared, int slot) {
  try {
    replayMessages(shared, slot);
  } catch (const std::exception& failure) {
    // Out of memory: the working directory is gone by now, and the replay
    // asks to be tried again.
    stop(shared, exitTempFail, "out of resources", failure.what());
  }
  shared.workersLeft.fetch_sub(1);
}

void showProgress(const SharedWork& shared, bool enabled) {
  if (!enabled) return;
  for (;;) {
    std::fprintf(stderr, "\r%s",
                 progressBar(shared.reader->done(), shared.reader->total(), progressWidth).c_str());
    if (shared.workersLeft.load() == 0 || interrupted() || shared.stopCode.load() != 0) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  std::fprintf(stderr, "\r\033[K");
}

int exitCodeFor(const std::vector<ReplayRow>& rows, const std::vector<std::string>& skipped) {
  for (const ReplayRow& row : rows) {
    if (row.result == ReplayRow::Result::failed) return exitSoftware;
  }
  return skipped.empty() ? exitClean : exitDataError;
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
  shared.interceptMailbox = options.mailbox;
  shared.strict = options.strict;
  const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
  const std::size_t jobs = std::min<std::size_t>(options.jobs != 0 ? options.jobs : cores, maxSlots);

  installSignalHandlers();
  const auto start = std::chrono::steady_clock::now();
  std::vector<std::thread> workers;
  shared.workersLeft.store(jobs);
  // Every started worker is joined whatever fails here: a thread object
  // destroyed unjoined would abort the process with directories left behind.
  try {
    for (std::size_t slot = 0; slot < jobs; ++slot) {
      workers.emplace_back(work, std::ref(shared), static_cast<int>(slot));
    }
    showProgress(shared, options.progress && isatty(STDERR_FILENO));
  } catch (const std::exception& failure) {
    shared.workersLeft.fetch_sub(jobs - workers.size());  // those never started
    stop(shared, exitTempFail, "cannot run the jobs", failure.what());
  }
  for (std::thread& worker : workers) worker.join();
  const std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - start;
  reraiseIfInterrupted();
  if (const int stopCode = shared.stopCode.load()) return stopCode;

  for (const std::string& reason : shared.skipped) complain("skipped " + reason);
  const std::vector<ReplayRow> rows(shared.rows.begin(), shared.rows.end());
  if (rows.empty()) {
    complain(options.input + ": no messages found");
    return exitDataError;
  }
  const std::string report = formatReport(options.format, rows, shared.skipped);
  if (std::fwrite(report.data(), 1, report.size(), stdout) != report.size() || std::fflush(stdout) != 0) {
    complain("cannot write the report");
    return exitIoError;
  }
  if (options.format == ReportFormat::csv)
    std::fprintf(stderr, "%s\n", totalsLine(rows, shared.skipped.size()).c_str());
  std::fprintf(stderr, "zentry-host: %zu messages in %.2f s (%.0f messages/s, %zu jobs)\n", rows.size(),
               seconds.count(), static_cast<double>(rows.size()) / std::max(seconds.count(), 1e-9), jobs);
  return exitCodeFor(rows, shared.skipped);
}

}  // namespace zentry::host
