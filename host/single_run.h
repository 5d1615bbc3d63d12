#pragma once

#include "host/options.h"

namespace zentry::host {

/// The mail server's part for one message: a fresh working directory with
/// routing.dat and zentry.dat, the Subject field in "subject", the filter run
/// there, its standard output relayed and its exit code returned; the
/// directory is gone before this returns. Returns the exit code.
int runSingle(const Options& options);

}  // namespace zentry::host
