#include "host/routing_writer.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <thread>

#include "support/e2e.h"

namespace zentry::host {
namespace {

// routing.dat as copyMessage stores what a pipe delivers one byte per write,
// so the envelope line and its "From " arrive cut anywhere.
TEST(CopyMessage, EnvelopeLineDroppedWhereverReadsEnd) {
  struct Case {
    std::string input, stored, subject;
    CopyStatus status;
  };
  const Case cases[] = {
      {"From a 10:00\nSubject: x\r\n\r\nbody", "XXXXSubject: x\r\n\r\nbody", "x", CopyStatus::ok},
      {"Fro", "XXXXFro", "", CopyStatus::ok},
      {"From: a\nSubject: y\n", "XXXXFrom: a\nSubject: y\n", "y", CopyStatus::ok},
      {"From a 10:00", "XXXX", "", CopyStatus::empty},
      {"", "XXXX", "", CopyStatus::empty},
  };
  for (const Case& c : cases) {
    int ends[2];
    ASSERT_EQ(0, pipe(ends));
    std::thread writer([&c, &ends] {
      for (const char byte : c.input) EXPECT_EQ(1, write(ends[1], &byte, 1));
      close(ends[1]);
    });
    test::TempDir dir;
    RoutingWriter routing;
    std::string error;
    ASSERT_TRUE(routing.open(dir.path() + "/routing.dat", &error));
    EXPECT_EQ(c.status, copyMessage(ends[0], routing, &error)) << c.input;
    writer.join();
    close(ends[0]);
    EXPECT_TRUE(routing.close(&error));
    EXPECT_EQ(c.stored, dir.read("routing.dat")) << c.input;
    EXPECT_EQ(c.subject, routing.subject().value.value_or("")) << c.input;
  }
}

}  // namespace
}  // namespace zentry::host
