#include <string>
#include <vector>

#include "filter/driver.h"
#include "platform/text_compare.h"

namespace zentry {

void parseArguments(const std::vector<std::string>& arguments, RunState& state) {
  // The first argument is the mailbox whatever it says, "debug" included.
  state.interceptMailbox.assign(arguments[1].c_str());
  for (std::size_t i = 2; i < arguments.size(); ++i) {
    if (compareTextNoCase(arguments[i].c_str(), "errorlevel") == 0) {
      state.errorlevelMode = true;
    } else if (compareTextNoCase(arguments[i].c_str(), "debug") == 0) {
      state.debugMode = true;
    } else if (compareTextNoCase(arguments[i].c_str(), "strict") == 0) {
      state.strictMode = true;
    }
  }
}

}  // namespace zentry
