#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "milter/action_plan.h"

namespace zentry::milter {

struct Options {
  std::string socket;  ///< libmilter form: unix:PATH, inet:PORT@HOST, inet6:PORT@HOST
  std::string rules;
  std::string mailbox;
  Action action = Action::redirect;
  bool strict = false;
  bool foreground = false;
  std::string metrics;  ///< not empty: serve metrics over HTTP there (inet:PORT@HOST, inet6:PORT@HOST)
  std::size_t maxMessageBytes = 32 * 1024 * 1024;
  unsigned rulesCheckSeconds = 2;  ///< how often the rules file is checked for changes
  std::string pidFile;
  std::string configFile;
  std::string user;               ///< not empty: run as this user (and its groups) once the socket is open
  std::string redirectSender;     ///< the envelope sender of a redirected message; empty: none ("<>")
  unsigned stopWaitSeconds = 30;  ///< how long a stop waits for messages in progress
};

/// Reads the command line, and the configuration file it names (--config):
/// a setting on the command line wins over the same one in the file. On a
/// mistake returns false with a one-line reason in `*error`. An inet socket
/// given without a host binds to the loopback address.
bool parseOptions(const std::vector<std::string>& arguments, Options* options, std::string* error);

/// The configuration file's settings as command-line words: each line
/// "name value" (or "name" alone for a switch) becomes "--name" ["value"];
/// blank lines and lines starting with '#' are skipped.
std::vector<std::string> configWords(const std::string& text);

extern const char* const usageText;

}  // namespace zentry::milter
