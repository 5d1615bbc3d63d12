#include "milter/action_plan.h"

#include <gtest/gtest.h>

namespace zentry::milter {
namespace {

ScanVerdict hit() {
  ScanVerdict verdict;
  verdict.hit = true;
  verdict.interceptMailbox = "postmaster@localhost";
  verdict.subject = "Infected (Executable) - hello";
  verdict.ruleLabel = "Executable";
  verdict.name = "a.exe";
  return verdict;
}

MessageFacts facts(std::vector<std::string> recipients) {
  MessageFacts facts;
  facts.sender = "<sender@example.org>";
  facts.recipients = std::move(recipients);
  facts.header.add("X-Zentry-Hit", "forged");
  facts.header.add("Subject", "hello");
  facts.header.add("Subject", "second");
  return facts;
}

// Whatever the verdict and action, a message that goes on loses the fields
// that claim to be the milter's; only a refused one is left alone.
TEST(ActionPlan, ForgedOwnFieldsAlwaysRemoved) {
  const std::vector<std::pair<std::string, int>> forged{{"X-Zentry-Hit", 1}};
  for (const Action action : {Action::redirect, Action::reject, Action::quarantine, Action::tag}) {
    const ActionPlan clean = planFor(action, ScanVerdict{}, facts({"<a@example.org>"}), "");
    EXPECT_EQ(forged, clean.removedHeaders) << actionName(action);
    EXPECT_TRUE(clean.addedHeaders.empty() && clean.removedRecipients.empty() &&
                clean.addedRecipient.empty() && !clean.reject && !clean.subject && !clean.newSender &&
                clean.quarantineReason.empty());
    const ActionPlan caught = planFor(action, hit(), facts({"<a@example.org>"}), "");
    EXPECT_EQ(action == Action::reject, caught.removedHeaders.empty()) << actionName(action);
    EXPECT_EQ(action == Action::reject, caught.reject);
  }
}

TEST(ActionPlan, RedirectLeavesNoRecipientAndNoSender) {
  const ActionPlan plan =
      planFor(Action::redirect, hit(), facts({"<a@example.org>", "<@r:b@example.org>"}), "");
  EXPECT_EQ((std::vector<std::string>{"<a@example.org>", "<@r:b@example.org>", "<b@example.org>"}),
            plan.removedRecipients);
  EXPECT_EQ("<postmaster@localhost>", plan.addedRecipient);
  EXPECT_EQ("<>", plan.newSender.value_or("unchanged"));
  EXPECT_TRUE(plan.quarantineReason.empty() && !plan.redirectHeld);
  // The second Subject goes; the first becomes the verdict's.
  const std::vector<std::pair<std::string, int>> removed{{"X-Zentry-Hit", 1}, {"Subject", 2}};
  EXPECT_EQ(removed, plan.removedHeaders);
  EXPECT_EQ("Infected (Executable) - hello", plan.subject.value_or(""));
  const std::vector<std::pair<std::string, std::string>> added{
      {"X-Zentry-Hit", "rule=\"Executable\"; name=\"a.exe\""},
      {"X-Zentry-Original-Recipients", "<a@example.org>,\n\t<@r:b@example.org>"},
      {"X-Zentry-Original-Sender", "<sender@example.org>"},
      {"X-Zentry-Original-Subject", "hello"}};
  EXPECT_EQ(added, plan.addedHeaders);
  EXPECT_EQ("<bounces@example.org>",
            planFor(Action::redirect, hit(), facts({}), "bounces@example.org").newSender);
}

// A recipient without angle brackets may be a rewritten local submission
// that the server holds under another form: redirected, and held as well.
TEST(ActionPlan, UncertainRemovalHolds) {
  const ActionPlan plan = planFor(Action::redirect, hit(), facts({"<a@example.org>", "b@example.org"}), "");
  EXPECT_EQ((std::vector<std::string>{"<a@example.org>", "b@example.org", "b"}), plan.removedRecipients);
  EXPECT_TRUE(plan.redirectHeld);
  EXPECT_EQ("attachment rule \"Executable\", redirected; held: a recipient may remain",
            plan.quarantineReason);
}

// Names come from the message: nothing in them may break the field or reply.
TEST(ActionPlan, PrintableText) {
  EXPECT_EQ("a%0D%0Ab", printableText("a\r\nb", 10));
  EXPECT_EQ("%22q%22 %5C %25", printableText("\"q\" \\ %", 10));
  EXPECT_EQ("na%EFve", printableText("na\xEFve", 10));
  EXPECT_EQ("abc", printableText("abcdef", 3));
  ScanVerdict verdict = hit();
  verdict.ruleLabel.clear();
  verdict.name = "a\r\nX-Injected: 1";
  verdict.interceptMailbox = "<already@angled>";
  const ActionPlan plan = planFor(Action::redirect, verdict, MessageFacts{}, "");
  EXPECT_EQ("<already@angled>", plan.addedRecipient);
  EXPECT_EQ("rule=\"\"; name=\"a%0D%0AX-Injected: 1\"", plan.addedHeaders.at(0).second);
}

}  // namespace
}  // namespace zentry::milter
