#include "milter/action_plan.h"

#include <gtest/gtest.h>

namespace zentry::milter {
namespace {

// The actions on a hit are proven through a real Postfix; here, what no hit
// and hostile names do.
TEST(ActionPlan, NoHitChangesNothing) {
  for (const Action action : {Action::redirect, Action::reject, Action::quarantine, Action::tag}) {
    const ActionPlan plan = planFor(action, ScanVerdict{}, {"<a@example.org>"});
    EXPECT_TRUE(plan.addedHeaders.empty() && plan.removedRecipients.empty() && plan.addedRecipient.empty() &&
                !plan.reject && !plan.subject && plan.quarantineReason.empty());
  }
}

// Names come from the message: nothing in them may break the field or reply.
TEST(ActionPlan, PrintableText) {
  EXPECT_EQ("a%0D%0Ab", printableText("a\r\nb", 10));
  EXPECT_EQ("%22q%22 %5C %25", printableText("\"q\" \\ %", 10));
  EXPECT_EQ("na%EFve", printableText("na\xEFve", 10));
  EXPECT_EQ("abc", printableText("abcdef", 3));
  ScanVerdict verdict;
  verdict.hit = true;
  verdict.name = "a\r\nX-Injected: 1";
  verdict.interceptMailbox = "<already@angled>";
  const ActionPlan plan = planFor(Action::redirect, verdict, {});
  EXPECT_EQ("<already@angled>", plan.addedRecipient);
  EXPECT_EQ("rule=\"\"; name=\"a%0D%0AX-Injected: 1\"", plan.addedHeaders.at(0).second);
}

}  // namespace
}  // namespace zentry::milter
