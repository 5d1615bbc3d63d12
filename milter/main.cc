// zentry-milter: the attachment filter inside the mail server, over the
// milter protocol. main() owns the process: options, the first read of the
// rules, the listening socket, the user it runs as, daemon start, and
// signals; the milter library runs the SMTP conversations on threads of its
// own.

#include <libmilter/mfapi.h>
#include <pthread.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

#include "milter/counting_archive_lister.h"
#include "milter/mailbox_check.h"
#include "milter/metrics_registry.h"
#include "milter/metrics_server.h"
#include "milter/milter_callbacks.h"
#include "milter/options.h"
#include "milter/rules_watcher.h"
#include "milter/run_as_user.h"
#include "platform/archive_lister_process.h"

namespace {

using namespace zentry::milter;

constexpr int exitUsage = 64;
constexpr int exitNoUser = 67;
constexpr int exitUnavailable = 69;
constexpr int exitOsError = 71;
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

// The file of a unix socket ("unix:PATH" or "local:PATH"); "" for inet.
std::string socketPath(const std::string& socket) {
  for (const char* prefix : {"unix:", "local:"})
    if (socket.rfind(prefix, 0) == 0) return socket.substr(std::string(prefix).size());
  return "";
}

bool openSocket(const Options& options) {
  // Only the owner and its group (the mail server's) may connect.
  umask(0007);
  return smfi_setconn(const_cast<char*>(options.socket.c_str())) == MI_SUCCESS &&
         smfi_opensocket(true) == MI_SUCCESS;
}

// Said at start, where an administrator sees it, and logged.
void warnOfUnknownMailbox(const Options& options, const MessageLog& log) {
  std::ifstream file("/etc/aliases");
  std::ostringstream aliases;
  aliases << file.rdbuf();
  const std::string warning =
      unknownMailboxWarning(options.mailbox, aliases.str(),
                            [](const std::string& name) { return getpwnam(name.c_str()) != nullptr; });
  if (warning.empty()) return;
  if (!options.foreground) std::fprintf(stderr, "zentry-milter: %s\n", warning.c_str());
  log.error(warning);
}

// A stop lets the messages in progress finish, up to the wait the options
// allow; meanwhile every message that begins is answered with a temporary
// failure, and so is, by the server, every one still open at the end.
void stopGracefully(int received, const Options& options, MessagesInProgress& inProgress,
                    const MessageLog& log) {
  inProgress.stop();
  // Not smfi_stop(): the library then no longer serves the connections it
  // has, so the messages in progress could never finish. The listening
  // socket stays open until the process ends; a message that begins on it
  // meanwhile is answered with a temporary failure.
  const int open = inProgress.count();
  log.info("stopping on signal " + std::to_string(received) + "; " + std::to_string(open) +
           " message(s) in progress, waiting for them at most " + std::to_string(options.stopWaitSeconds) +
           " s");
  // A second more for the replies to the last messages' ends to go out.
  if (!inProgress.waitUntilNone(std::chrono::seconds(options.stopWaitSeconds), std::chrono::seconds(1))) {
    log.error("stopped with " + std::to_string(inProgress.count()) +
              " message(s) unfinished; the server answers them with a temporary failure");
  }
}

// SIGHUP means "read the rules again"; SIGTERM and SIGINT stop the milter once
// its messages are done. main() alone takes these signals (see sigwait below).
// Returns true when asked to stop, false when the library stopped by itself.
bool serveSignals(RulesWatcher& watcher, const Options& options, MessagesInProgress& inProgress,
                  const MessageLog& log) {
  sigset_t set;
  sigemptyset(&set);
  for (const int signal : {SIGHUP, SIGTERM, SIGINT, SIGUSR1}) sigaddset(&set, signal);
  for (;;) {
    const int received = sigwaitinfo(&set, nullptr);
    if (received < 0) continue;  // EINTR
    if (received == SIGHUP) {
      watcher.requestReload();
      continue;
    }
    if (received == SIGUSR1) return false;
    stopGracefully(received, options, inProgress, log);
    return true;
  }
}

}  // namespace

// The milter library starts a thread of its own that waits in sigwait() for
// SIGHUP, SIGTERM and SIGINT, and stops the library on any of them. With two
// threads waiting, the kernel gives a signal to whichever it likes: main()
// gets it while it waits and has nothing pending, the library's thread
// otherwise, so a second SIGHUP sent while main() was still busy with the
// first stopped the milter. The library calls sigwait() from that thread
// alone, and a definition in the program comes before the C library's: here
// the library's thread waits without taking any signal, and main() takes
// them all with sigwaitinfo().
extern "C" int sigwait(const sigset_t* /*set*/, int* /*received*/) {
  for (;;) pause();  // every signal it could take is blocked in this thread
}

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
  RunAsUser user;
  if (!options.user.empty() && !findUser(options.user, &user, &error)) return startError(error, exitNoUser);

  // Strict mode lists archives with the zentry-archive beside this program.
  zentry::ProcessArchiveLister archiveLister;
  CountingArchiveLister countedLister(archiveLister, milterMetrics());
  zentry::useArchiveLister(&countedLister);
  milterMetrics().rulesLoaded(*rules.current());
  milterMetrics().setMode(options.strict, options.action);

  const MessageLog log(options.foreground);
  warnOfUnknownMailbox(options, log);
  MessagesInProgress inProgress;
  const Service service{&options, &rules, &log, &inProgress};
  smfiDesc description = milterDescription(service);
  if (smfi_register(description) != MI_SUCCESS)
    return startError("cannot register with libmilter", exitUnavailable);
  MetricsServer metricsServer;
  if (!options.metrics.empty() && !metricsServer.listen(options.metrics, &error))
    return startError(error, exitUnavailable);
  if (!openSocket(options)) return startError("cannot listen on " + options.socket, exitUnavailable);
  const std::string socketFile = socketPath(options.socket);
  if (!options.user.empty() && !socketFile.empty() && !giveSocketTo(socketFile, user, &error))
    return startError(error, exitOsError);
  if (!options.foreground && daemon(0, 0) != 0)
    return startError("cannot start in the background", exitUnavailable);
  if (!options.pidFile.empty()) std::ofstream(options.pidFile) << getpid() << "\n";
  if (!options.user.empty() && !becomeUser(user, &error)) {
    log.error(error);
    return startError(error, exitOsError);
  }

  signal(SIGPIPE, SIG_IGN);
  sigset_t blocked;
  sigemptyset(&blocked);
  for (const int signal : {SIGHUP, SIGTERM, SIGINT, SIGUSR1}) sigaddset(&blocked, signal);
  pthread_sigmask(SIG_BLOCK, &blocked, nullptr);  // inherited by every thread started below
  if (!options.metrics.empty()) {
    metricsServer.start([] { return milterMetrics().exposition(); });
    log.info("metrics served on " + options.metrics + " at /metrics");
  }

  log.info("listening on " + options.socket + ", rules " + options.rules + ", action " +
           actionName(options.action) + (options.strict ? ", strict" : "") +
           (options.user.empty() ? "" : ", user " + options.user));
  bool asked = false;
  {
    RulesWatcher watcher(rules, log, options.rulesCheckSeconds);
    const pthread_t mainThread = pthread_self();
    std::thread milterThread([mainThread] {
      smfi_main();
      pthread_kill(mainThread, SIGUSR1);  // wakes main() when the library stops by itself
    });
    asked = serveSignals(watcher, options, inProgress, log);
    // Asked to stop, the milter ends as soon as its messages are done, not
    // when the library next looks (up to five seconds later): the library's
    // thread is left to the end of the process.
    if (asked)
      milterThread.detach();
    else
      milterThread.join();
  }
  metricsServer.stop();  // it answered while the messages in progress finished
  if (!options.pidFile.empty()) unlink(options.pidFile.c_str());
  if (asked && !socketFile.empty()) unlink(socketFile.c_str());
  // A stop nobody asked for is a failure, so the service manager starts it again.
  if (!asked) log.error("the milter library stopped unasked");
  if (asked) log.info("stopped");
  std::fflush(nullptr);
  std::exit(asked ? 0 : exitUnavailable);
}
