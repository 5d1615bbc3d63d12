// Whole runs of the filter on real messages, with the debug trace compared
// byte for byte: every scanner line, every offset, the names and the verdict.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "e2e/message_text.h"
#include "support/e2e.h"

namespace zentry::test {
namespace {

std::string range(unsigned long from, unsigned long to) {
  return " " + std::to_string(from) + " - " + std::to_string(to) + "\n";
}

std::string frame(unsigned long from, unsigned long to) {
  return "ProcessFile2 " + std::to_string(from) + " - " + std::to_string(to) + "\n";
}

std::string part(int number, const std::string& type) {
  return "Process MIME Part " + std::to_string(number) + "\n" + type + "\n";
}

const std::string wholeFile = frame(4, 4294967294ul);

struct DebugRun {
  RunResult result;
  std::string log;
};

DebugRun runDebug(const std::string& message, const std::string& rules, const std::string& subject) {
  TempDir dir;
  dir.write("routing.dat", routingFile(message));
  dir.write("zentry.dat", rules);
  DebugRun run{runBinary(dir, {"infected", "errorlevel", "debug"}, {"subject=" + subject}), ""};
  run.log = dir.read("zentry.log");
  return run;
}

// The road of one message: a text part, then invoice.pif by its filename.
TEST(ScannerRun, RoadOfOneMessage) {
  MessageText m;
  m.add("From: a@example.com");
  m.add("Subject: Invoice");
  m.add("Content-Type: multipart/mixed; boundary=\"A\"");
  m.add("");
  m.add("preamble");
  m.add("--A");
  const unsigned long body1 = m.add("");
  m.add("Please pay.");
  const unsigned long end1 = m.add("--A");
  m.add("Content-Type: application/octet-stream");
  m.add("Content-Disposition: attachment; filename=\"invoice.pif\"");
  const unsigned long body2 = m.add("");
  m.add("TVqQAAMAAAAEAAAA//8AALgAAAAAAAAAQAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA");
  const unsigned long end2 = m.add("--A--");
  const DebugRun run = runDebug(m.text(), "Executable\n\n*.pif\n", "Invoice");
  const std::string trace = wholeFile + part(0, "multipart/mixed") + "Into multipart\n" +
                            part(1, "text/plain") + range(body1, end1) + part(2, "application/octet-stream") +
                            range(body2, end2) + namesTrace("Invoice", {"File1.tmp", "invoice.pif"}) +
                            "To: infected\nSubject: Infected (Executable) - Invoice\n" +
                            "Found suspect file - invoice.pif (Executable)\n";
  EXPECT_EQ(bannerText() + crlf(trace), run.result.output);
  EXPECT_EQ(1, run.result.exitCode);
}

// The walker's own example, once with LF and once with CR LF line ends: the
// same names and lines, the offsets counting both bytes of every CR LF.
TEST(ScannerRun, WalkerExampleWithBothLineEnds) {
  for (const std::string lineEnd : {"\n", "\r\n"}) {
    MessageText m(lineEnd);
    m.add("Content-Type: multipart/mixed; boundary=A");
    m.add("");
    m.add("--A");
    const unsigned long body1 = m.add("");
    m.add("first text");
    const unsigned long end1 = m.add("--A");
    m.add("Content-Type: multipart/alternative;");
    m.add("\tboundary=\"B\"");
    m.add("");
    m.add("--B");
    m.add("Content-Type: text/plain; charset=us-ascii");
    const unsigned long body3 = m.add("");
    m.add("plain");
    const unsigned long end3 = m.add("--B");
    const unsigned long body4 = m.add("");
    m.add("<p>html</p>");
    const unsigned long end4 = m.add("--B--");
    m.add("--A");
    m.add("Content-Type: application/octet-stream; name=\"a.exe\"");
    m.add("Content-Transfer-Encoding: base64");
    const unsigned long body5 = m.add("");
    m.add("TVqQAAMAAAAEAAAA");
    const unsigned long end5 = m.add("--A--");
    m.add("epilogue");
    const DebugRun run = runDebug(m.text(), "Program\n\n*.exe\n", "Example");
    const std::string trace = wholeFile + part(0, "multipart/mixed") + "Into multipart\n" +
                              part(1, "text/plain") + range(body1, end1) + part(2, "multipart/alternative") +
                              "Into multipart\n" + part(3, "text/plain") + range(body3, end3) +
                              part(4, "text/plain") + range(body4, end4) +
                              part(5, "application/octet-stream") + range(body5, end5) +
                              namesTrace("Example", {"File1.tmp", "File3.tmp", "File4.tmp", "a.exe"});
    const std::string verdict = "To: infected\nSubject: Infected (Program) - Example\n";
    const std::string found = "Found suspect file - a.exe (Program)\n";
    SCOPED_TRACE(lineEnd.size() == 1 ? "LF" : "CR LF");
    std::string expected = trace;
    expected += verdict;
    expected += found;
    EXPECT_EQ(bannerText() + crlf(expected), run.result.output);
    EXPECT_EQ(crlf(trace + found), run.log);
    EXPECT_EQ(1, run.result.exitCode);
  }
}

// An embedded message is scanned again as a message of its own: its parts
// are numbered afresh and its names come before the name of the part.
TEST(ScannerRun, EmbeddedMessage) {
  MessageText m;
  m.add("Content-Type: multipart/mixed; boundary=outer");
  m.add("");
  m.add("--outer");
  m.add("Content-Type: message/rfc822");
  const unsigned long inner = m.add("");
  m.add("Subject: forwarded");
  m.add("Content-Type: multipart/mixed; boundary=inner");
  m.add("");
  m.add("--inner");
  const unsigned long innerBody1 = m.add("");
  m.add("see attached");
  const unsigned long innerEnd1 = m.add("--inner");
  m.add("Content-Type: application/x-msdownload; name=\"setup.exe\"");
  const unsigned long innerBody2 = m.add("");
  m.add("MZ");
  const unsigned long innerEnd2 = m.add("--inner--");
  const unsigned long end = m.add("--outer");
  m.add("Content-Disposition: attachment; filename=\"notes.txt\"");
  const unsigned long body2 = m.add("");
  m.add("plain notes");
  const unsigned long end2 = m.add("--outer--");
  // Nothing hits: the trace alone shows the walk.
  const DebugRun run = runDebug(m.text(), "Never\nno such subject\n\n", "Fwd");
  const std::string trace = wholeFile + part(0, "multipart/mixed") + "Into multipart\n" +
                            part(1, "message/rfc822") + range(inner, end) + frame(inner, end) +
                            part(0, "multipart/mixed") + "Into multipart\n" + part(1, "text/plain") +
                            range(innerBody1, innerEnd1) + part(2, "application/x-msdownload") +
                            range(innerBody2, innerEnd2) + part(2, "text/plain") + range(body2, end2) +
                            namesTrace("Fwd", {"File1.tmp", "setup.exe", "File1.tmp", "notes.txt"});
  EXPECT_EQ(bannerText() + crlf(trace), run.result.output);
  EXPECT_EQ(0, run.result.exitCode);
}

// Past 1000 active parts a multipart is walked as a leaf: 2000 nested levels
// neither overflow the stack nor lose the parts after the bound.
TEST(ScannerRun, DeepMultipartNestingIsBounded) {
  const int levels = 2000;
  MessageText m;
  std::vector<unsigned long> headerEnd(levels);
  std::vector<unsigned long> afterOpening(levels);
  for (int level = 0; level < levels; ++level) {
    if (level > 0) afterOpening[level - 1] = m.add("--b" + std::to_string(level - 1));
    m.add("Content-Type: multipart/mixed; boundary=b" + std::to_string(level));
    headerEnd[level] = m.add("");
  }
  afterOpening[levels - 1] = m.add("--b" + std::to_string(levels - 1));
  const unsigned long leafBody = m.add("");
  m.add("deep text");
  const unsigned long leafEnd = m.add("--b" + std::to_string(levels - 1) + "--");
  for (int level = levels - 2; level >= 0; --level) m.add("--b" + std::to_string(level) + "--");

  std::string trace = wholeFile;
  std::vector<std::string> names;
  // Parts 0 to 998 walk as multiparts; from part 999 on each is a leaf that
  // ends at the delimiter line of its own boundary, right after its header.
  for (int number = 0; number < levels; ++number) {
    trace += part(number, "multipart/mixed");
    if (number < 999) {
      trace += "Into multipart\n";
      continue;
    }
    trace += range(headerEnd[number], afterOpening[number]);
    names.push_back("File" + std::to_string(number) + ".tmp");
  }
  trace += part(levels, "text/plain") + range(leafBody, leafEnd);
  names.push_back("File" + std::to_string(levels) + ".tmp");
  const DebugRun run = runDebug(m.text(), "Never\nno such subject\n\n", "Deep");
  EXPECT_EQ(bannerText() + crlf(trace + namesTrace("Deep", names)), run.result.output);
}

// Embedded messages are scanned again only 16 frames deep; deeper ones still
// record their own names.
TEST(ScannerRun, DeepEmbeddedMessagesAreBounded) {
  const int levels = 30;
  MessageText m;
  std::vector<unsigned long> bodyStart(levels);
  for (int level = 0; level < levels; ++level) {
    m.add("Content-Type: multipart/mixed; boundary=m" + std::to_string(level));
    m.add("");
    m.add("--m" + std::to_string(level));
    m.add("Content-Type: message/rfc822; name=\"level" + std::to_string(level) + ".eml\"");
    bodyStart[level] = m.add("");
  }
  m.add("Content-Type: application/octet-stream; name=\"deepest.exe\"");
  m.add("");
  std::vector<unsigned long> end(levels);
  for (int level = levels - 1; level >= 0; --level) end[level] = m.add("--m" + std::to_string(level) + "--");

  std::string trace = wholeFile;
  std::vector<std::string> names;
  for (int level = 0; level < 16; ++level) {
    trace += part(0, "multipart/mixed") + "Into multipart\n" + part(1, "message/rfc822") +
             range(bodyStart[level], end[level]);
    if (level < 15) trace += frame(bodyStart[level], end[level]);
  }
  for (int level = 15; level >= 0; --level) names.push_back("level" + std::to_string(level) + ".eml");
  const DebugRun run = runDebug(m.text(), "Never\nno such subject\n\n", "Nest");
  EXPECT_EQ(bannerText() + crlf(trace + namesTrace("Nest", names)), run.result.output);
}

}  // namespace
}  // namespace zentry::test
