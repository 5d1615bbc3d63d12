#include "milter/messages_in_progress.h"

#include <gtest/gtest.h>

#include <thread>

namespace zentry::milter {
namespace {

using std::chrono::milliseconds;

TEST(MessagesInProgress, StopWaitsForMessagesOnly) {
  MessagesInProgress messages;
  EXPECT_TRUE(messages.waitUntilNone(milliseconds(0)));
  EXPECT_TRUE(messages.begin());
  EXPECT_TRUE(messages.begin());
  messages.stop();
  EXPECT_FALSE(messages.begin());  // refused, and not waited for
  EXPECT_EQ(2, messages.count());
  EXPECT_FALSE(messages.waitUntilNone(milliseconds(20)));
  messages.end();
  std::thread last([&messages] {
    std::this_thread::sleep_for(milliseconds(50));
    messages.end();
  });
  // Generous bound: the wait ends when the last message does, not at it.
  const auto started = std::chrono::steady_clock::now();
  EXPECT_TRUE(messages.waitUntilNone(std::chrono::seconds(30)));
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(20));
  last.join();
  messages.end();  // an end too many never goes below none
  EXPECT_EQ(0, messages.count());
}

}  // namespace
}  // namespace zentry::milter
