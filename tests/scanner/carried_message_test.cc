// Which members of an archive are read as mail: by name, or by a header
// block that only a message opens with.
#include "scanner/carried_message.h"

#include <gtest/gtest.h>

#include <string>

namespace zentry {
namespace {

struct MessageLook {
  const char* name;
  const char* start;  // the member's first bytes
  bool message;
};

const MessageLook messageLooks[] = {
    {"fwd.eml", "", true},
    {"FWD.EML", "not a message at all", true},
    {".eml", "", false},
    {"mail.eml.txt", "", false},
    {"notes.txt", "From: a@example.org\nSubject: hi\n\nbody\n", true},
    {"notes.txt", "Received: from x\n\tby y\nX-Spam: no\n\n", true},
    {"notes.txt", "MIME-Version : 1.0\r\nContent-Type: text/plain\r\n\r\n", true},
    // The first bytes end inside the header: a field they cut still counts.
    {"notes.txt", "X-Mailer: a\nDate: today", true},
    {"notes.txt", "Subject: hi", true},
    {"notes.txt", "X-Mailer: a\nSubj", false},
    // Text that only looks like fields.
    {"notes.txt", "Name: value\nOther: value\n\nbody\n", false},
    {"notes.txt", "\nFrom: a@example.org\n", false},
    {"notes.txt", " From: a@example.org\n\n", false},
    {"notes.txt", "From: a@example.org\nthis line is prose\n\n", false},
    {"notes.txt", "From a@example.org Mon Dec  7 10:00:00 2026\nFrom: a@example.org\n\n", false},
    {"notes.txt", ": no name\n\n", false},
    {"config.yaml", "to: production\nfrom: staging\n", true},
};

TEST(LooksLikeMailMessage, Table) {
  for (const MessageLook& c : messageLooks) {
    const std::string start = c.start;
    EXPECT_EQ(c.message, looksLikeMailMessage(c.name, reinterpret_cast<const unsigned char*>(start.data()),
                                              start.size()))
        << c.name << " / " << c.start;
  }
}

}  // namespace
}  // namespace zentry
