#pragma once

namespace zentry {

/// Diagnostic hook for String's failure reports. In the filter it discards
/// everything: nothing reaches standard output, the log or the exit code.
void debugTrace(int level, const char* format, ...) __attribute__((format(printf, 2, 3)));

}  // namespace zentry
