#include "milter/options.h"

#include <fstream>
#include <iterator>
#include <set>
#include <sstream>

#include "milter/metrics_server.h"

namespace zentry::milter {
namespace {

const std::set<std::string> switches = {"--strict", "--foreground"};
const std::set<std::string> valued = {"--socket",
                                      "--rules",
                                      "--mailbox",
                                      "--action",
                                      "--max-message-size",
                                      "--rules-check-seconds",
                                      "--pid-file",
                                      "--config",
                                      "--user",
                                      "--redirect-sender",
                                      "--stop-wait-seconds",
                                      "--metrics"};

// "inet:PORT" binds every address in the milter library; a filter that names
// no host is meant for the mail server on this machine.
std::string withLoopbackHost(const std::string& socket) {
  if (socket.rfind("inet:", 0) == 0 && socket.find('@') == std::string::npos) return socket + "@127.0.0.1";
  if (socket.rfind("inet6:", 0) == 0 && socket.find('@') == std::string::npos) return socket + "@::1";
  return socket;
}

bool parseCount(const std::string& text, unsigned long long maximum, unsigned long long* value) {
  if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos || text.size() > 15)
    return false;
  *value = std::stoull(text);
  return *value > 0 && *value <= maximum;
}

bool apply(const std::string& name, const std::string& value, Options* options, std::string* error) {
  unsigned long long count = 0;
  if (name == "--strict")
    options->strict = true;
  else if (name == "--foreground")
    options->foreground = true;
  else if (name == "--socket")
    options->socket = withLoopbackHost(value);
  else if (name == "--metrics")
    options->metrics = withLoopbackHost(value);
  else if (name == "--rules")
    options->rules = value;
  else if (name == "--mailbox")
    options->mailbox = value;
  else if (name == "--pid-file")
    options->pidFile = value;
  else if (name == "--config")
    options->configFile = value;
  else if (name == "--user")
    options->user = value;
  else if (name == "--redirect-sender")
    options->redirectSender = value;
  else if (name == "--action" && !parseAction(value, &options->action))
    *error = "unknown action: " + value;
  else if (name == "--max-message-size") {
    if (!parseCount(value, 1ull << 31, &count)) *error = "--max-message-size wants 1 to 2147483648 bytes";
    options->maxMessageBytes = static_cast<std::size_t>(count);
  } else if (name == "--rules-check-seconds") {
    if (!parseCount(value, 3600, &count)) *error = "--rules-check-seconds wants 1 to 3600";
    options->rulesCheckSeconds = static_cast<unsigned>(count);
  } else if (name == "--stop-wait-seconds") {
    if (!parseCount(value, 3600, &count)) *error = "--stop-wait-seconds wants 1 to 3600";
    options->stopWaitSeconds = static_cast<unsigned>(count);
  }
  return error->empty();
}

// Applies the words in order; later words win. Records the names it set.
bool applyWords(const std::vector<std::string>& words, Options* options, std::set<std::string>* seen,
                const std::set<std::string>& skip, std::string* error) {
  for (std::size_t i = 0; i < words.size(); ++i) {
    const std::string& name = words[i];
    std::string value;
    if (valued.count(name) != 0) {
      if (i + 1 >= words.size()) {
        *error = name + " wants a value";
        return false;
      }
      value = words[++i];
    } else if (switches.count(name) == 0) {
      *error = "unknown option: " + name;
      return false;
    }
    if (skip.count(name) != 0) continue;
    if (!apply(name, value, options, error)) return false;
    seen->insert(name);
  }
  return true;
}

}  // namespace

const char* const usageText =
    "usage: zentry-milter --socket unix:PATH|inet:PORT[@HOST] --rules FILE --mailbox MAILBOX\n"
    "                     [--action redirect|reject|quarantine|tag] [--strict] [--foreground]\n"
    "                     [--max-message-size BYTES] [--rules-check-seconds N] [--pid-file FILE]\n"
    "                     [--config FILE] [--user USER] [--redirect-sender ADDRESS]\n"
    "                     [--stop-wait-seconds N] [--metrics inet:PORT[@HOST]]\n";

std::vector<std::string> configWords(const std::string& text) {
  std::vector<std::string> words;
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    std::istringstream fields(line);
    std::string name;
    if (!(fields >> name) || name[0] == '#') continue;
    words.push_back("--" + name);
    std::string value;
    std::getline(fields >> std::ws, value);
    while (!value.empty() && (value.back() == ' ' || value.back() == '\t' || value.back() == '\r'))
      value.pop_back();
    if (!value.empty()) words.push_back(value);
  }
  return words;
}

bool parseOptions(const std::vector<std::string>& arguments, Options* options, std::string* error) {
  std::vector<std::string> words;  // without the program's name
  if (!arguments.empty()) words.assign(std::next(arguments.begin()), arguments.end());
  std::set<std::string> fromCommandLine;
  if (!applyWords(words, options, &fromCommandLine, {}, error)) return false;
  if (!options->configFile.empty()) {
    std::ifstream file(options->configFile);
    if (!file) {
      *error = "cannot read " + options->configFile;
      return false;
    }
    std::ostringstream text;
    text << file.rdbuf();
    std::set<std::string> fromFile;
    fromCommandLine.insert("--config");
    if (!applyWords(configWords(text.str()), options, &fromFile, fromCommandLine, error)) {
      *error = options->configFile + ": " + *error;
      return false;
    }
  }
  if (options->socket.empty() || options->rules.empty() || options->mailbox.empty()) {
    *error = "--socket, --rules and --mailbox are required";
    return false;
  }
  // The verdict prints at most 100 bytes of the mailbox; a longer one would be
  // redirected to a cut address.
  if (options->mailbox.size() > 100) {
    *error = "--mailbox is longer than 100 bytes";
    return false;
  }
  // The sender goes to the server as one address; a blank or a bracket
  // inside would make it something else.
  if (options->redirectSender.find_first_of(" \t<>") != std::string::npos &&
      options->redirectSender != "<>") {
    *error = "--redirect-sender wants one address, or <>";
    return false;
  }
  InetAddress metricsAddress;
  if (!options->metrics.empty() && !splitInetAddress(options->metrics, &metricsAddress)) {
    *error = "--metrics wants inet:PORT[@HOST] or inet6:PORT[@HOST]";
    return false;
  }
  return true;
}

}  // namespace zentry::milter
