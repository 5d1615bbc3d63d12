// Runs one command several times and reports its median wall time and peak
// resident memory as one JSON line.
//
// Wall time runs from just before the spawn to the return of wait4(), so it
// covers loading, start-up and exit: what a mail server waits for.
//
// Peak memory is taken in one more, untimed run: the child is traced and
// stopped just before it exits, and its VmHWM is read then. ru_maxrss will not
// do: the kernel folds the spawning process's resident size into it at exec,
// which puts a floor of this runner's size (about 0.8 MB) under every program.
// ru_maxrss is still reported, for comparison.
//
//   measure [--warmup N] [--min-runs N] [--max-runs N] [--budget SECONDS]
//           [--cwd DIR] [--stdin FILE] [--stdout FILE] [--env NAME=VALUE]...
//           -- PROGRAM ARGUMENTS...

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/ptrace.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr int maxRuns = 2000;
constexpr int maxExtraEnvironment = 16;
constexpr int maxEnvironment = 512;

struct Options {
  int warmup = 1;
  int minRuns = 5;
  int maxRuns = 50;
  double budgetSeconds = 2.0;
  const char* directory = nullptr;
  const char* input = "/dev/null";
  const char* output = "/dev/null";
  const char* extra[maxExtraEnvironment] = {};
  int extraCount = 0;
  char** command = nullptr;
};

struct Sample {
  long long wallNanos = 0;
  long long cpuMicros = 0;  // user + system: less disturbed by a busy machine than wall time
  long maxRssKb = 0;
  int status = 0;  // exit code, or 128 + signal
};

long long nowNanos() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec;
}

[[noreturn]] void fail(const char* why) {
  std::fprintf(stderr, "measure: %s\n", why);
  std::exit(2);
}

int runCount(const char* text) {
  char* end = nullptr;
  const long value = std::strtol(text, &end, 10);
  if (end == text || *end != '\0') fail("run counts must be whole numbers");
  if (value < 0 || value > maxRuns) fail("run counts must lie in 0..2000");
  return static_cast<int>(value);
}

Options parseOptions(int argc, char** argv) {
  Options options;
  int index = 1;
  for (; index < argc; ++index) {
    const char* flag = argv[index];
    if (std::strcmp(flag, "--") == 0) break;
    if (index + 1 >= argc) fail("an option lacks its value");
    const char* value = argv[++index];
    if (std::strcmp(flag, "--warmup") == 0) {
      options.warmup = runCount(value);
    } else if (std::strcmp(flag, "--min-runs") == 0) {
      options.minRuns = std::max(1, runCount(value));
    } else if (std::strcmp(flag, "--max-runs") == 0) {
      options.maxRuns = std::max(1, runCount(value));
    } else if (std::strcmp(flag, "--budget") == 0) {
      options.budgetSeconds = std::strtod(value, nullptr);
    } else if (std::strcmp(flag, "--cwd") == 0) {
      options.directory = value;
    } else if (std::strcmp(flag, "--stdin") == 0) {
      options.input = value;
    } else if (std::strcmp(flag, "--stdout") == 0) {
      options.output = value;
    } else if (std::strcmp(flag, "--env") == 0) {
      if (options.extraCount == maxExtraEnvironment) fail("too many --env");
      options.extra[options.extraCount++] = value;
    } else {
      fail("unknown option");
    }
  }
  if (index + 1 >= argc) fail("no command after --");
  options.command = argv + index + 1;
  options.maxRuns = std::max(options.maxRuns, options.minRuns);
  return options;
}

// The inherited environment with the --env entries added; an entry replaces an
// inherited one of the same name, so a stray "subject" cannot leak in.
char** buildEnvironment(const Options& options) {
  static char* merged[maxEnvironment + maxExtraEnvironment + 1];
  int count = 0;
  for (char** entry = environ; *entry != nullptr && count < maxEnvironment; ++entry) {
    bool replaced = false;
    for (int i = 0; i < options.extraCount; ++i) {
      const char* equals = std::strchr(options.extra[i], '=');
      const std::size_t nameLength = equals ? static_cast<std::size_t>(equals - options.extra[i]) : 0;
      if (nameLength > 0 && std::strncmp(*entry, options.extra[i], nameLength + 1) == 0) replaced = true;
    }
    if (!replaced) merged[count++] = *entry;
  }
  for (int i = 0; i < options.extraCount; ++i) merged[count++] = const_cast<char*>(options.extra[i]);
  merged[count] = nullptr;
  return merged;
}

Sample runOnce(const Options& options, char** environment) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (options.directory != nullptr) posix_spawn_file_actions_addchdir_np(&actions, options.directory);
  posix_spawn_file_actions_addopen(&actions, 0, options.input, O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, options.output, O_WRONLY | O_CREAT | O_TRUNC, 0644);

  Sample sample;
  const long long start = nowNanos();
  pid_t child = 0;
  const int error = posix_spawnp(&child, options.command[0], &actions, nullptr, options.command, environment);
  posix_spawn_file_actions_destroy(&actions);
  if (error != 0) {
    std::fprintf(stderr, "measure: cannot run %s: %s\n", options.command[0], std::strerror(error));
    std::exit(3);
  }
  int status = 0;
  rusage usage{};
  while (wait4(child, &status, 0, &usage) < 0) {
    if (errno != EINTR) fail("wait4 failed");
  }
  sample.wallNanos = nowNanos() - start;
  sample.maxRssKb = usage.ru_maxrss;
  sample.cpuMicros = (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000000LL + usage.ru_utime.tv_usec +
                     usage.ru_stime.tv_usec;
  sample.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return sample;
}

// VmHWM from /proc/PID/status in kB; -1 when it cannot be read.
long highWaterKb(pid_t child) {
  char path[64];
  std::snprintf(path, sizeof path, "/proc/%d/status", static_cast<int>(child));
  const int file = open(path, O_RDONLY);
  if (file < 0) return -1;
  char text[4096];
  const ssize_t got = read(file, text, sizeof text - 1);
  close(file);
  if (got <= 0) return -1;
  text[got] = '\0';
  const char* field = std::strstr(text, "VmHWM:");
  return field == nullptr ? -1 : std::strtol(field + 6, nullptr, 10);
}

// Runs the command once under ptrace and returns its own peak resident size,
// read at the exit stop while its address space still exists; -1 on failure.
long peakRssKb(const Options& options, char** environment) {
  const pid_t child = fork();
  if (child < 0) return -1;
  if (child == 0) {
    const int input = open(options.input, O_RDONLY);
    const int output = open(options.output, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (input < 0 || output < 0 || dup2(input, 0) < 0 || dup2(output, 1) < 0) _exit(126);
    if (options.directory != nullptr && chdir(options.directory) != 0) _exit(126);
    if (ptrace(PTRACE_TRACEME, 0, nullptr, nullptr) != 0) _exit(126);
    environ = environment;
    execvp(options.command[0], options.command);
    _exit(127);
  }
  long peak = -1;
  int status = 0;
  bool optionsSet = false;
  while (waitpid(child, &status, 0) == child && WIFSTOPPED(status)) {
    int deliver = 0;
    if (!optionsSet) {
      // The first stop is the SIGTRAP after exec.
      // ptrace takes its data argument as a pointer-sized integer.
      const long traceOptions = PTRACE_O_TRACEEXIT | PTRACE_O_EXITKILL;
      ptrace(PTRACE_SETOPTIONS, child, nullptr,
             reinterpret_cast<void*>(traceOptions));  // NOLINT(performance-no-int-to-ptr)
      optionsSet = true;
    } else if ((status >> 8) == (SIGTRAP | (PTRACE_EVENT_EXIT << 8))) {
      peak = highWaterKb(child);
    } else {
      deliver = WSTOPSIG(status);
    }
    ptrace(PTRACE_CONT, child, nullptr,
           reinterpret_cast<void*>(static_cast<long>(deliver)));  // NOLINT(performance-no-int-to-ptr)
  }
  return peak;
}

Sample samples[maxRuns];

}  // namespace

int main(int argc, char** argv) {
  const Options options = parseOptions(argc, argv);
  char** environment = buildEnvironment(options);
  for (int i = 0; i < options.warmup; ++i) runOnce(options, environment);

  const long long budgetNanos = static_cast<long long>(options.budgetSeconds * 1e9);
  const long long start = nowNanos();
  int runs = 0;
  while (runs < options.maxRuns && (runs < options.minRuns || nowNanos() - start < budgetNanos)) {
    samples[runs] = runOnce(options, environment);
    ++runs;
  }

  long maxRss = 0;
  int failures = 0;
  long long wall[maxRuns];
  long long cpu[maxRuns];
  for (int i = 0; i < runs; ++i) {
    maxRss = std::max(maxRss, samples[i].maxRssKb);
    wall[i] = samples[i].wallNanos;
    cpu[i] = samples[i].cpuMicros;
    if (samples[i].status != samples[0].status) ++failures;
  }
  std::sort(wall, wall + runs);
  std::sort(cpu, cpu + runs);
  const long peak = peakRssKb(options, environment);
  // Even counts take the lower middle: a measured value, never an average of two.
  const long long median = wall[(runs - 1) / 2];
  std::printf(
      "{\"runs\": %d, \"median_us\": %.1f, \"min_us\": %.1f, \"max_us\": %.1f, \"median_cpu_us\": %lld, "
      "\"peak_rss_kb\": %ld, \"max_rss_kb\": %ld, \"status\": %d, \"inconsistent\": %d}\n",
      runs, static_cast<double>(median) / 1e3, static_cast<double>(wall[0]) / 1e3,
      static_cast<double>(wall[runs - 1]) / 1e3, cpu[(runs - 1) / 2], peak, maxRss, samples[0].status,
      failures);
  return 0;
}
