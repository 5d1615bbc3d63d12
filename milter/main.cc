// zentry-milter: the attachment filter inside the mail server, over the
// milter protocol. main() owns the process: options, the first read of the
// rules, the listening socket, daemon start, and signals; the milter library
// runs the SMTP conversations on threads of its own.

#include <libmilter/mfapi.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <thread>

#include "milter/milter_callbacks.h"
#include "milter/options.h"
#include "milter/rules_watcher.h"
#include "platform/archive_lister_process.h"

namespace {

using namespace zentry::milter;

constexpr int exitUsage = 64;
constexpr int exitUnavailable = 69;
constexpr int exitConfig = 78;

// daemon() moves to "/": a relative path given on the command line is taken
// from the directory the milter was started in.
std::string absolute(const std::string& path) {
  if (path.empty() || path[0] == '/') return path;
  char directory[4096];
  return getcwd(directory, sizeof directory) != nullptr ? std::string(directory) + "/" + path : path;
}

int startError(const std::string& text, int code) {
  std::fprintf(stderr, "zentry-milter: %s\n", text.c_str());
  return code;
}

bool openSocket(const Options& options) {
  // Only the owner and its group (the mail server's) may connect.
  umask(0007);
  return smfi_setconn(const_cast<char*>(options.socket.c_str())) == MI_SUCCESS &&
         smfi_opensocket(true) == MI_SUCCESS;
}

// The milter library's own signal thread stops it on SIGHUP; SIGHUP here means
// "read the rules again". Signals sent to the process go to the main thread
// first when it waits for them, so main() takes them all. Returns true when
// asked to stop, false when the library stopped by itself.
bool serveSignals(RulesWatcher& watcher, const MessageLog& log) {
  sigset_t set;
  sigemptyset(&set);
  for (const int signal : {SIGHUP, SIGTERM, SIGINT, SIGUSR1}) sigaddset(&set, signal);
  for (;;) {
    int received = 0;
    if (sigwait(&set, &received) != 0) continue;
    if (received == SIGHUP) {
      watcher.requestReload();
      continue;
    }
    if (received == SIGUSR1) return false;
    log.info("stopping on signal " + std::to_string(received));
    smfi_stop();
    return true;
  }
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  std::string error;
  if (!parseOptions(std::vector<std::string>(argv, argv + argc), &options, &error)) {
    std::fprintf(stderr, "zentry-milter: %s\n%s", error.c_str(), usageText);
    return exitUsage;
  }
  options.rules = absolute(options.rules);
  options.pidFile = absolute(options.pidFile);
  RulesStore rules(options.rules);
  if (rules.reload(true, &error) != RulesStore::Reload::loaded) return startError(error, exitConfig);

  // Strict mode lists archives with the zentry-archive beside this program.
  zentry::ProcessArchiveLister archiveLister;
  zentry::useArchiveLister(&archiveLister);

  const MessageLog log(options.foreground);
  const Service service{&options, &rules, &log};
  smfiDesc description = milterDescription(service);
  if (smfi_register(description) != MI_SUCCESS)
    return startError("cannot register with libmilter", exitUnavailable);
  if (!openSocket(options)) return startError("cannot listen on " + options.socket, exitUnavailable);
  if (!options.foreground && daemon(0, 0) != 0)
    return startError("cannot start in the background", exitUnavailable);
  if (!options.pidFile.empty()) std::ofstream(options.pidFile) << getpid() << "\n";

  signal(SIGPIPE, SIG_IGN);
  sigset_t blocked;
  sigemptyset(&blocked);
  for (const int signal : {SIGHUP, SIGTERM, SIGINT, SIGUSR1}) sigaddset(&blocked, signal);
  pthread_sigmask(SIG_BLOCK, &blocked, nullptr);  // inherited by every thread started below

  log.info("listening on " + options.socket + ", rules " + options.rules + ", action " +
           actionName(options.action) + (options.strict ? ", strict" : ""));
  int result = 0;
  bool asked = false;
  {
    RulesWatcher watcher(rules, log, options.rulesCheckSeconds);
    const pthread_t mainThread = pthread_self();
    std::thread milterThread([&result, mainThread] {
      result = smfi_main();
      pthread_kill(mainThread, SIGUSR1);  // wakes main() when the library stops by itself
    });
    asked = serveSignals(watcher, log);
    milterThread.join();
  }
  if (!options.pidFile.empty()) unlink(options.pidFile.c_str());
  // A stop nobody asked for is a failure, so the service manager starts it again.
  if (!asked) log.error("the milter library stopped unasked");
  return result == MI_SUCCESS && asked ? 0 : exitUnavailable;
}
