#pragma once

#include <functional>
#include <string>
#include <thread>

namespace zentry::milter {

/// An address of the milter's socket syntax for TCP: "inet:PORT@HOST" or
/// "inet6:PORT@HOST" (HOST a name or a numeric address).
struct InetAddress {
  bool ipv6 = false;
  std::string port;
  std::string host;
};

/// Splits `address`; false when it is not of that form or the port is not
/// 1 to 65535.
bool splitInetAddress(const std::string& address, InetAddress* out);

/// The metrics endpoint: a small HTTP server on a thread of its own that
/// answers GET /metrics with the exposition and closes each connection after
/// one response. It holds at most a few connections at once, each for a few
/// seconds and a bounded request, so a slow or hostile client costs a slot
/// for that long and nothing more; scans never wait for it.
class MetricsServer {
 public:
  MetricsServer() = default;
  ~MetricsServer();
  MetricsServer(const MetricsServer&) = delete;
  MetricsServer& operator=(const MetricsServer&) = delete;

  /// Listens at `address` (see InetAddress); false with a reason in `*error`.
  /// Done before the process goes to the background, so a mistake is seen.
  bool listen(const std::string& address, std::string* error);

  /// Serves on a new thread, calling `exposition` for each scrape. Threads do
  /// not survive fork(): start after daemon().
  void start(std::function<std::string()> exposition);

  /// Stops the thread and closes every connection; also done on destruction.
  void stop();

 private:
  void run();

  int listener_ = -1;
  int wakeRead_ = -1;
  int wakeWrite_ = -1;
  std::function<std::string()> exposition_;
  std::thread thread_;
};

}  // namespace zentry::milter
