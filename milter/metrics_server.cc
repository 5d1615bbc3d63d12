#include "milter/metrics_server.h"

#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <exception>
#include <vector>

#include "milter/http_request.h"

namespace zentry::milter {
namespace {

using Clock = std::chrono::steady_clock;

// A scrape is one short request and one response of some kilobytes; these
// bound what a client that sends nothing, or never reads, can hold.
constexpr std::size_t maxClients = 8;
constexpr std::chrono::seconds clientTime(5);
// When accept() fails for want of descriptors, the listener rests this long
// instead of waking poll() at once again.
constexpr std::chrono::milliseconds acceptPause(100);
// After the answer, what the client still sends is read and dropped up to
// this much: closing with unread bytes would reset the connection, and the
// client could lose the answer (a 431 to a request that goes on, say).
constexpr std::size_t maxDrainedBytes = 64 * 1024;

struct Client {
  enum class Stage { reading, answering, draining };
  int fd = -1;
  Clock::time_point deadline;
  Stage stage = Stage::reading;
  std::string received;
  std::string response;
  std::size_t sent = 0;
  std::size_t drained = 0;
};

void closeClient(Client& client) {
  if (client.fd >= 0) close(client.fd);
  client.fd = -1;
}

// Sends what the socket takes; once all is sent, ends the sending side and
// goes on to drain. A peer gone is closed.
void sendSome(Client& client) {
  while (client.sent < client.response.size()) {
    const ssize_t put = send(client.fd, client.response.data() + client.sent,
                             client.response.size() - client.sent, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (put < 0 && errno == EINTR) continue;
    if (put < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
    if (put <= 0) {
      closeClient(client);
      return;
    }
    client.sent += static_cast<std::size_t>(put);
  }
  shutdown(client.fd, SHUT_WR);
  client.response = std::string();
  client.stage = Client::Stage::draining;
}

// Reads and drops what the client still sends, until it closes, sends too
// much, or its time is up.
void drainSome(Client& client) {
  char chunk[4096];
  for (;;) {
    const ssize_t got = recv(client.fd, chunk, sizeof chunk, MSG_DONTWAIT);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
    if (got > 0) client.drained += static_cast<std::size_t>(got);
    if (got <= 0 || client.drained > maxDrainedBytes) {
      closeClient(client);
      return;
    }
  }
}

// Reads what has arrived; once the request head is whole (or too large),
// prepares the response and starts sending it.
void receiveSome(Client& client, const std::function<std::string()>& exposition) {
  char chunk[4096];
  for (;;) {
    const ssize_t got = recv(client.fd, chunk, sizeof chunk, MSG_DONTWAIT);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
    if (got <= 0) {
      closeClient(client);  // the client went away before its request was whole
      return;
    }
    client.received.append(chunk, static_cast<std::size_t>(got));
    const HeadState state = headState(client.received);
    if (state == HeadState::incomplete) continue;
    const HttpAnswer answer =
        state == HeadState::tooLarge ? HttpAnswer{431, true} : answerFor(client.received);
    client.response = httpResponse(answer, answer.status == 200 && answer.bodyWanted ? exposition() : "");
    client.received = std::string();
    client.stage = Client::Stage::answering;
    sendSome(client);
    return;
  }
}

}  // namespace

bool splitInetAddress(const std::string& address, InetAddress* out) {
  std::string rest;
  if (address.rfind("inet:", 0) == 0) {
    out->ipv6 = false;
    rest = address.substr(5);
  } else if (address.rfind("inet6:", 0) == 0) {
    out->ipv6 = true;
    rest = address.substr(6);
  } else {
    return false;
  }
  const std::size_t at = rest.find('@');
  out->port = rest.substr(0, at);
  out->host = at == std::string::npos ? "" : rest.substr(at + 1);
  if (out->port.empty() || out->port.size() > 5 ||
      out->port.find_first_not_of("0123456789") != std::string::npos)
    return false;
  const int port = std::stoi(out->port);
  return port >= 1 && port <= 65535 && !out->host.empty();
}

MetricsServer::~MetricsServer() {
  stop();
  if (listener_ >= 0) close(listener_);
}

bool MetricsServer::listen(const std::string& address, std::string* error) {
  InetAddress where;
  if (!splitInetAddress(address, &where)) {
    *error = "not an address of the form inet:PORT@HOST or inet6:PORT@HOST: " + address;
    return false;
  }
  addrinfo hints{};
  hints.ai_family = where.ipv6 ? AF_INET6 : AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
  addrinfo* found = nullptr;
  const int lookup = getaddrinfo(where.host.c_str(), where.port.c_str(), &hints, &found);
  if (lookup != 0) {
    *error = "cannot resolve " + where.host + ": " + gai_strerror(lookup);
    return false;
  }
  *error = "no address for " + where.host;
  for (const addrinfo* candidate = found; candidate != nullptr && listener_ < 0;
       candidate = candidate->ai_next) {
    const int fd = socket(candidate->ai_family, candidate->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) continue;
    const int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (bind(fd, candidate->ai_addr, candidate->ai_addrlen) == 0 && ::listen(fd, 16) == 0) {
      listener_ = fd;
    } else {
      *error = "cannot listen on " + address + ": " + std::strerror(errno);
      close(fd);
    }
  }
  freeaddrinfo(found);
  return listener_ >= 0;
}

void MetricsServer::start(std::function<std::string()> exposition) {
  int wake[2];
  if (listener_ < 0 || thread_.joinable() || pipe2(wake, O_CLOEXEC | O_NONBLOCK) != 0) return;
  wakeRead_ = wake[0];
  wakeWrite_ = wake[1];
  exposition_ = std::move(exposition);
  thread_ = std::thread([this] { run(); });
}

void MetricsServer::stop() {
  if (!thread_.joinable()) return;
  const char byte = 0;
  while (write(wakeWrite_, &byte, 1) < 0 && errno == EINTR) {
  }
  thread_.join();
  close(wakeRead_);
  close(wakeWrite_);
  wakeRead_ = wakeWrite_ = -1;
}

void MetricsServer::run() {
  // Nothing here allocates but the answers, so the loop itself cannot fail.
  std::vector<Client> clients;
  clients.reserve(maxClients);
  std::array<pollfd, maxClients + 2> watched{};
  Clock::time_point acceptAgain = Clock::now();
  for (;;) {
    const Clock::time_point now = Clock::now();
    watched[0] = {wakeRead_, POLLIN, 0};
    watched[1] = {clients.size() < maxClients && now >= acceptAgain ? listener_ : -1, POLLIN, 0};
    Clock::time_point wakeAt = acceptAgain > now ? acceptAgain : now + std::chrono::hours(1);
    for (std::size_t i = 0; i < clients.size(); ++i) {
      const bool answering = clients[i].stage == Client::Stage::answering;
      watched[i + 2] = {clients[i].fd, static_cast<short>(answering ? POLLOUT : POLLIN), 0};
      wakeAt = std::min(wakeAt, clients[i].deadline);
    }
    const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(wakeAt - now).count() + 1;
    const int timeout = static_cast<int>(std::clamp<long long>(wait, 0, 3600 * 1000));
    if (poll(watched.data(), clients.size() + 2, timeout) < 0) continue;
    if (watched[0].revents != 0) break;
    const Clock::time_point after = Clock::now();
    for (std::size_t i = 0; i < clients.size(); ++i) {
      Client& client = clients[i];
      try {
        if (after >= client.deadline) {
          closeClient(client);  // too slow to send its request, to read the answer, or to close
        } else if (watched[i + 2].revents == 0) {
          continue;
        } else if (client.stage == Client::Stage::reading) {
          receiveSome(client, exposition_);
        } else if (client.stage == Client::Stage::answering) {
          sendSome(client);
        } else {
          drainSome(client);
        }
      } catch (const std::exception&) {
        closeClient(client);  // out of memory for one answer: that client goes, the server stays
      }
    }
    clients.erase(std::remove_if(clients.begin(), clients.end(), [](const Client& c) { return c.fd < 0; }),
                  clients.end());
    if (watched[1].revents == 0) continue;
    while (clients.size() < maxClients) {
      const int fd = accept4(listener_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
      if (fd < 0) {
        if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR && errno != ECONNABORTED)
          acceptAgain = Clock::now() + acceptPause;
        break;
      }
      clients.emplace_back();  // within the reserved room
      clients.back().fd = fd;
      clients.back().deadline = Clock::now() + clientTime;
    }
  }
  for (Client& client : clients) closeClient(client);
}

}  // namespace zentry::milter
