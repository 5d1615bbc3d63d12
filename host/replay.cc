#include "host/replay.h"

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>

#include "host/exit_codes.h"
#include "host/host_inputs.h"
#include "host/mailbox_reader.h"
#include "host/message_run.h"
#include "host/message_text.h"

namespace zentry::host {
namespace {

constexpr std::size_t progressWidth = 40;

struct SharedWork {
  const Mailbox* mailbox;
  const HostInputs* inputs;
  std::string interceptMailbox;
  bool strict = false;
  std::vector<ReplayRow> rows;
  std::atomic<std::size_t> next{0};
  std::atomic<std::size_t> done{0};
  std::atomic<int> stopCode{0};  ///< set: the replay stops and exits with it
};

// The first failure that stops the replay gives its exit code and its one
// message. Called where memory may have run out, so nothing is allocated.
void stop(SharedWork& shared, int exitCode, const char* what, const char* why) {
  int none = 0;
  if (shared.stopCode.compare_exchange_strong(none, exitCode))
    std::fprintf(stderr, "zentry-host: %s: %s\n", what, why);
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
  for (;;) {
    const std::size_t index = shared.next.fetch_add(1);
    if (index >= shared.mailbox->messages.size() || interrupted() || shared.stopCode.load() != 0) return;
    const MailboxEntry& entry = shared.mailbox->messages[index];
    const SubjectField subject = extractSubject(entry.message);
    const FilterResult result =
        runMessage(*dir, shared.inputs->filterPath, entry.message, subject.value, arguments, slot);
    if (result.unusable) stop(shared, exitConfig, "the filter cannot run", result.error.c_str());
    shared.rows[index] = rowFor(entry.id, subject.value, result);
    shared.done.fetch_add(1);
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
}

void showProgress(const SharedWork& shared, bool enabled) {
  if (!enabled) return;
  const std::size_t total = shared.mailbox->messages.size();
  for (;;) {
    const std::size_t done = shared.done.load();
    std::fprintf(stderr, "\r%s", progressBar(done, total, progressWidth).c_str());
    if (done >= total || interrupted() || shared.stopCode.load() != 0) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  std::fprintf(stderr, "\r\033[K");
}

int exitCodeFor(const SharedWork& shared) {
  for (const ReplayRow& row : shared.rows) {
    if (row.result == ReplayRow::Result::failed) return exitSoftware;
  }
  return shared.mailbox->skipped.empty() ? exitClean : exitDataError;
}

}  // namespace

ReplayRow rowFor(const std::string& id, const std::optional<std::string>& subject,
                 const FilterResult& result) {
  ReplayRow row;
  row.id = id;
  row.subject = subject;
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
  Mailbox mailbox;
  std::string error;
  switch (readMailbox(options.input, &mailbox, &error)) {
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
  for (const std::string& reason : mailbox.skipped) complain("skipped " + reason);
  if (mailbox.messages.empty()) {
    complain(options.input + ": no messages found");
    return exitDataError;
  }

  SharedWork shared;
  shared.mailbox = &mailbox;
  shared.inputs = &inputs;
  shared.interceptMailbox = options.mailbox;
  shared.strict = options.strict;
  shared.rows.resize(mailbox.messages.size());
  const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
  const std::size_t jobs =
      std::min<std::size_t>(options.jobs != 0 ? options.jobs : cores, mailbox.messages.size());

  installSignalHandlers();
  const auto start = std::chrono::steady_clock::now();
  std::vector<std::thread> workers;
  // Every started worker is joined whatever fails here: a thread object
  // destroyed unjoined would abort the process with directories left behind.
  try {
    for (std::size_t slot = 0; slot < jobs; ++slot) {
      workers.emplace_back(work, std::ref(shared), static_cast<int>(slot));
    }
    showProgress(shared, options.progress && isatty(STDERR_FILENO));
  } catch (const std::exception& failure) {
    stop(shared, exitTempFail, "cannot run the jobs", failure.what());
  }
  for (std::thread& worker : workers) worker.join();
  const std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - start;
  reraiseIfInterrupted();
  if (const int stopCode = shared.stopCode.load()) return stopCode;

  const std::string report = formatReport(options.format, shared.rows, mailbox.skipped);
  if (std::fwrite(report.data(), 1, report.size(), stdout) != report.size() || std::fflush(stdout) != 0) {
    complain("cannot write the report");
    return exitIoError;
  }
  if (options.format == ReportFormat::csv)
    std::fprintf(stderr, "%s\n", totalsLine(shared.rows, mailbox.skipped.size()).c_str());
  std::fprintf(stderr, "zentry-host: %zu messages in %.2f s (%.0f messages/s, %zu jobs)\n",
               shared.rows.size(), seconds.count(),
               static_cast<double>(shared.rows.size()) / std::max(seconds.count(), 1e-9), jobs);
  return exitCodeFor(shared);
}

}  // namespace zentry::host
