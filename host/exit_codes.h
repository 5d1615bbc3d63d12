#pragma once

namespace zentry::host {

/// Exit codes of zentry-host. 0 and 1 are the filter's own; the rest follow
/// the sysexits convention that mail servers act on: 75 asks the server to
/// try the message again later, the others make it give up on the message.
enum ExitCode : int {
  exitClean = 0,       ///< the filter ran (no hit, or a hit without --errorlevel)
  exitHit = 1,         ///< a rule hit and --errorlevel was given
  exitUsage = 64,      ///< bad command line
  exitDataError = 65,  ///< input is not mail: empty message or mailbox, non-message files
  exitNoInput = 66,    ///< a message or mailbox is missing or unreadable
  exitSoftware = 70,   ///< the filter crashed or answered in a way the host does not understand
  exitIoError = 74,    ///< writing the report failed
  exitTempFail = 75,   ///< the working directory or the filter process could not be set up
  exitConfig = 78,     ///< the rules file or the filter binary is missing or unreadable
};

}  // namespace zentry::host
