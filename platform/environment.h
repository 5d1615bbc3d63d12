#pragma once

#include <optional>
#include <string>
#include <vector>

namespace zentry {

/// The process environment as "NAME=value" entries, in environment order.
using EnvironmentBlock = std::vector<std::string>;

/// The value of the variable named exactly `name` if there is one, else of the
/// first variable whose name equals it ignoring ASCII letter case; none when
/// no variable matches.
std::optional<std::string> lookupVariableNoCase(const EnvironmentBlock& environment, const char* name);

/// This process's own environment.
EnvironmentBlock currentEnvironment();

}  // namespace zentry
