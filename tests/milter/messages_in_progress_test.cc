#include "milter/messages_in_progress.h"

#include <gtest/gtest.h>

#include <thread>

namespace zentry::milter {
namespace {

using std::chrono::milliseconds;

TEST(MessagesInProgress, StopWaitsForMessagesOnly) {
  MessagesInProgress messages;
  EXPECT_TRUE(messages.waitUntilNone(milliseconds(0), milliseconds(0)));
  EXPECT_TRUE(messages.begin());
  EXPECT_TRUE(messages.begin());
  messages.stop();
  EXPECT_FALSE(messages.begin());  // refused, and not waited for
  EXPECT_EQ(2, messages.count());
  EXPECT_FALSE(messages.waitUntilNone(milliseconds(20), milliseconds(0)));
  messages.end(false);
  std::thread last([&messages] {
    std::this_thread::sleep_for(milliseconds(50));
    messages.end(true);
    std::this_thread::sleep_for(milliseconds(50));
    messages.replied();
  });
  // Generous bounds: the wait ends when the last reply goes out, not at them.
  const auto started = std::chrono::steady_clock::now();
  EXPECT_TRUE(messages.waitUntilNone(std::chrono::seconds(30), std::chrono::seconds(30)));
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(20));
  last.join();
  // A reply that never shows is waited for only as long as allowed.
  messages.end(false);  // an end too many never goes below none
  messages.end(true);
  EXPECT_TRUE(messages.waitUntilNone(milliseconds(0), milliseconds(10)));
  EXPECT_EQ(0, messages.count());
}

}  // namespace
}  // namespace zentry::milter
