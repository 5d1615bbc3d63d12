#pragma once

#include <libmilter/mfapi.h>

#include "milter/message_log.h"
#include "milter/messages_in_progress.h"
#include "milter/options.h"
#include "milter/rules_store.h"

namespace zentry::milter {

/// What every callback reads; set once before the milter library starts and
/// never changed while it runs.
struct Service {
  const Options* options = nullptr;
  RulesStore* rules = nullptr;
  const MessageLog* log = nullptr;
  MessagesInProgress* inProgress = nullptr;
};

/// The milter description with every callback. The callbacks read `serving`,
/// which must outlive the milter library's main loop.
smfiDesc milterDescription(const Service& serving);

}  // namespace zentry::milter
