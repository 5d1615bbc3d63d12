#include "host/routing_writer.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <thread>

#include "host/message_text.h"
#include "support/e2e.h"
#include "support/table.h"

namespace zentry::host {
namespace {

// copyMessage stores what a pipe delivers one byte per write, so the envelope
// line and its "From " arrive cut anywhere; it must drop what
// stripEnvelopeLine drops and find the Subject that extractSubject finds.
TEST(CopyMessage, EnvelopeLineDroppedWhereverReadsEnd) {
  for (const test::Row& row : test::readTable("../../host/testdata/message_shapes.txt")) {
    int ends[2];
    ASSERT_EQ(0, pipe(ends));
    std::thread writer([&row, &ends] {
      for (const char byte : row[0]) EXPECT_EQ(1, write(ends[1], &byte, 1));
      close(ends[1]);
    });
    test::TempDir dir;
    RoutingWriter routing;
    std::string error;
    ASSERT_TRUE(routing.open(dir.path() + "/routing.dat", &error));
    EXPECT_EQ(row[2].empty() ? CopyStatus::empty : CopyStatus::ok, copyMessage(ends[0], routing, &error))
        << row.where;
    writer.join();
    close(ends[0]);
    EXPECT_TRUE(routing.close(&error));
    EXPECT_EQ("XXXX" + row[2], dir.read("routing.dat")) << row.where;
    EXPECT_EQ(extractSubject(row[2]).value, routing.subject().value) << row.where;
  }
}

// A held message goes on into the file once it outgrows the limit, wherever
// that falls: before, inside or after a write or a dropped tail.
TEST(RoutingWriter, HeldUntilTheLimitThenInTheFile) {
  for (std::size_t limit = 4; limit <= 16; ++limit) {
    test::TempDir dir;
    RoutingWriter routing;
    std::string error;
    routing.openHeld(dir.path() + "/routing.dat", limit);
    EXPECT_TRUE(routing.write("Subject: a", 10, &error));
    EXPECT_TRUE(routing.dropTail(2, &error));
    EXPECT_TRUE(routing.write(" b\n", 3, &error));
    EXPECT_EQ(11u, routing.messageSize());
    EXPECT_TRUE(routing.close(&error));
    const std::string stored = "XXXXSubject: b\n";
    EXPECT_EQ(limit >= 15, routing.held()) << limit;
    EXPECT_EQ(stored, routing.held() ? std::string(routing.heldBytes()) : dir.read("routing.dat")) << limit;
    EXPECT_EQ(routing.held(), !dir.exists("routing.dat")) << limit;
  }
}

}  // namespace
}  // namespace zentry::host
