#include "platform/environment.h"

#include <cstring>

#include "platform/text_compare.h"

extern char** environ;

namespace zentry {

std::optional<std::string> lookupVariableNoCase(const EnvironmentBlock& environment, const char* name) {
  const std::size_t nameLength = std::strlen(name);
  const std::string* folded = nullptr;
  for (const std::string& entry : environment) {
    const std::size_t equals = entry.find('=');
    if (equals == std::string::npos || equals != nameLength) continue;
    const std::string entryName = entry.substr(0, equals);
    if (entryName == name) return entry.substr(equals + 1);
    if (folded == nullptr && compareTextNoCase(entryName.c_str(), name) == 0) folded = &entry;
  }
  if (folded != nullptr) return folded->substr(nameLength + 1);
  return std::nullopt;
}

EnvironmentBlock currentEnvironment() {
  EnvironmentBlock block;
  for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) block.emplace_back(*entry);
  return block;
}

}  // namespace zentry
