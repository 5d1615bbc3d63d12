#include "host/options.h"

#include <cstdlib>

namespace zentry::host {

const char* const usageText =
    "Usage:\n"
    "  zentry-host [OPTIONS] MESSAGE|- RULES MAILBOX\n"
    "      run the filter on one message as the mail server does; relay its output and exit code\n"
    "  zentry-host --replay [OPTIONS] MBOX|MAILDIR RULES [MAILBOX]\n"
    "      scan every message of a mailbox and report what each rule caught\n"
    "  zentry-host --explain [OPTIONS] MESSAGE|- RULES [MAILBOX]\n"
    "      show the names the filter sees in a message and the first rule that hits\n"
    "\n"
    "Options:\n"
    "  --errorlevel         pass \"errorlevel\": exit code 1 on a hit\n"
    "  --debug              pass \"debug\": the trace goes to standard output\n"
    "  --strict             pass \"strict\": names hidden by encodings and archives count too\n"
    "  --log FILE           append the filter's debug log to FILE (implies --debug; one run only)\n"
    "  --isolate            replay and explain run the filter program, one process per message\n"
    "                       (default: they scan in this process, the same way, many times faster)\n"
    "  --zentry PATH        the filter program (default: zentry next to zentry-host); implies --isolate\n"
    "  -j, --jobs N         replay N messages at once (default: one per core)\n"
    "  --format FORMAT      replay report as text, csv or json (default: text)\n"
    "  --no-progress        no progress bar, even on a terminal\n"
    "  -h, --help           this text\n"
    "  --version            the version\n"
    "\n"
    "Exit codes: 0 ran (no hit, or a hit without --errorlevel), 1 hit with --errorlevel,\n"
    "64 usage, 65 input is not mail, 66 input missing or unreadable, 70 the filter failed,\n"
    "74 output error, 75 temporary failure (try again), 78 rules file or filter missing.\n";

namespace {

bool takesValue(const std::string& name) {
  return name == "--log" || name == "--zentry" || name == "-j" || name == "--jobs" || name == "--format";
}

bool applyValue(const std::string& name, const std::string& value, Options* options, std::string* error) {
  if (name == "--log") {
    options->logFile = value;
    options->debug = true;
  } else if (name == "--zentry") {
    // The scan in this process cannot be another program.
    options->filterPath = value;
    options->isolate = true;
  } else if (name == "-j" || name == "--jobs") {
    char* end = nullptr;
    const long jobs = std::strtol(value.c_str(), &end, 10);
    if (value.empty() || *end != '\0' || jobs < 1 || jobs > 256) {
      *error = "--jobs wants a number from 1 to 256, not \"" + value + "\"";
      return false;
    }
    options->jobs = static_cast<unsigned>(jobs);
  } else if (value == "text" || value == "csv" || value == "json") {
    options->format = value == "text"  ? ReportFormat::text
                      : value == "csv" ? ReportFormat::csv
                                       : ReportFormat::json;
  } else {
    *error = "--format wants text, csv or json, not \"" + value + "\"";
    return false;
  }
  return true;
}

bool applyFlag(const std::string& name, Options* options) {
  if (name == "--replay") {
    options->mode = Options::Mode::replay;
  } else if (name == "--explain") {
    options->mode = Options::Mode::explain;
  } else if (name == "--errorlevel") {
    options->errorlevel = true;
  } else if (name == "--debug") {
    options->debug = true;
  } else if (name == "--strict") {
    options->strict = true;
  } else if (name == "--isolate") {
    options->isolate = true;
  } else if (name == "--no-progress") {
    options->progress = false;
  } else {
    return false;
  }
  return true;
}

bool checkOperands(const std::vector<std::string>& operands, Options* options, std::string* error) {
  const bool mailboxRequired = options->mode == Options::Mode::run;
  if (operands.size() < (mailboxRequired ? 3u : 2u) || operands.size() > 3) {
    *error = mailboxRequired ? "expected MESSAGE RULES MAILBOX"
                             : "expected an input, a rules file and perhaps a mailbox";
    return false;
  }
  options->input = operands[0];
  options->rules = operands[1];
  if (operands.size() == 3) options->mailbox = operands[2];
  if (options->rules == "-") {
    *error = "the rules file cannot be standard input";
    return false;
  }
  // The log is the trace of one run; replay and explain read their traces
  // themselves, so accepting the option would silently keep nothing.
  if (options->mode != Options::Mode::run && !options->logFile.empty()) {
    *error = "--log goes with a single run, not with --replay or --explain";
    return false;
  }
  if (options->mode == Options::Mode::replay && options->input == "-") {
    *error = "--replay reads a mailbox file or folder, not standard input";
    return false;
  }
  return true;
}

}  // namespace

bool runsFilterProgram(const Options& options) {
  return options.mode == Options::Mode::run || options.isolate;
}

bool parseOptions(const std::vector<std::string>& arguments, Options* options, std::string* error) {
  std::vector<std::string> operands;
  bool optionsEnded = false;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    std::string argument = arguments[i];
    if (optionsEnded || argument == "-" || argument.empty() || argument[0] != '-') {
      operands.push_back(argument);
      continue;
    }
    if (argument == "--") {
      optionsEnded = true;
    } else if (argument == "-h" || argument == "--help") {
      options->mode = Options::Mode::help;
      return true;
    } else if (argument == "--version") {
      options->mode = Options::Mode::version;
      return true;
    } else if (applyFlag(argument, options)) {
      continue;
    } else {
      std::string value;
      const std::size_t equals = argument.find('=');
      if (equals != std::string::npos && argument.rfind("--", 0) == 0) {
        value = argument.substr(equals + 1);
        argument.erase(equals);
      } else if (argument.size() > 2 && argument.rfind("-j", 0) == 0) {
        value = argument.substr(2);
        argument = "-j";
      } else if (takesValue(argument)) {
        if (i + 1 == arguments.size()) {
          *error = argument + " wants a value";
          return false;
        }
        value = arguments[++i];
      }
      if (!takesValue(argument)) {
        *error = "unknown option " + argument;
        return false;
      }
      if (!applyValue(argument, value, options, error)) return false;
    }
  }
  return checkOperands(operands, options, error);
}

}  // namespace zentry::host
