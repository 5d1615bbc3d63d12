#include "milter/action_plan.h"

#include <gtest/gtest.h>

namespace zentry::milter {
namespace {

ScanVerdict hitVerdict() {
  ScanVerdict verdict;
  verdict.hit = true;
  verdict.interceptMailbox = "quarantine@example.org";
  verdict.subject = "Infected (Executable) - Your invoice";
  verdict.ruleLabel = "Executable";
  verdict.name = "invoice.exe";
  return verdict;
}

const std::vector<std::string> recipients{"<a@example.org>", "<b@example.org>"};
using Fields = std::vector<std::pair<std::string, std::string>>;
const std::pair<std::string, std::string> hitField{"X-Zentry-Hit",
                                                   "rule=\"Executable\"; name=\"invoice.exe\""};

TEST(ActionPlan, EachAction) {
  const ActionPlan redirect = planFor(Action::redirect, hitVerdict(), recipients);
  ASSERT_EQ(2u, redirect.addedHeaders.size());
  EXPECT_EQ(hitField, redirect.addedHeaders[0]);
  EXPECT_EQ("<a@example.org>,\n\t<b@example.org>", redirect.addedHeaders[1].second);
  EXPECT_EQ("Infected (Executable) - Your invoice", redirect.subject.value_or(""));
  EXPECT_EQ(recipients, redirect.removedRecipients);
  EXPECT_EQ("<quarantine@example.org>", redirect.addedRecipient);
  EXPECT_FALSE(redirect.reject);

  const ActionPlan reject = planFor(Action::reject, hitVerdict(), recipients);
  EXPECT_EQ(Fields{hitField}, reject.addedHeaders);
  EXPECT_TRUE(reject.reject);
  EXPECT_EQ("Message refused by attachment rule \"Executable\"", reject.replyText);
  EXPECT_TRUE(reject.removedRecipients.empty());

  const ActionPlan quarantine = planFor(Action::quarantine, hitVerdict(), recipients);
  EXPECT_EQ("attachment rule \"Executable\"", quarantine.quarantineReason);
  EXPECT_FALSE(quarantine.subject);

  const ActionPlan tag = planFor(Action::tag, hitVerdict(), recipients);
  EXPECT_EQ(Fields{hitField}, tag.addedHeaders);
  EXPECT_FALSE(tag.reject || tag.subject || !tag.addedRecipient.empty() || !tag.quarantineReason.empty());
}

TEST(ActionPlan, NoHitChangesNothing) {
  for (const Action action : {Action::redirect, Action::reject, Action::quarantine, Action::tag}) {
    const ActionPlan plan = planFor(action, ScanVerdict{}, recipients);
    EXPECT_TRUE(plan.addedHeaders.empty() && plan.removedRecipients.empty() && !plan.reject && !plan.subject);
  }
}

// Names come from the message: nothing in them may break the field or reply.
TEST(ActionPlan, PrintableText) {
  EXPECT_EQ("a%0D%0Ab", printableText("a\r\nb", 10));
  EXPECT_EQ("%22q%22 %5C %25", printableText("\"q\" \\ %", 10));
  EXPECT_EQ("na%EFve", printableText("na\xEFve", 10));
  EXPECT_EQ("abc", printableText("abcdef", 3));
  ScanVerdict verdict = hitVerdict();
  verdict.interceptMailbox = "<already@angled>";
  EXPECT_EQ("<already@angled>", planFor(Action::redirect, verdict, {}).addedRecipient);
}

}  // namespace
}  // namespace zentry::milter
