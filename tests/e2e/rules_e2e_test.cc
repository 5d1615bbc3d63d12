// Whole runs of the built binary against real rule files: which rule hits,
// the verdict lines and the exit code, compared byte for byte.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "support/e2e.h"

namespace zentry::test {
namespace {

const std::string noMessage = crlf("File \"routing.dat\" can't be opened\n");

const std::string pifMessage =
    "Content-Type: multipart/mixed; boundary=A\r\n\r\n"
    "--A\r\nContent-Type: text/plain\r\n\r\nhello\r\n"
    "--A\r\nContent-Disposition: attachment; filename=invoice.pif\r\n\r\nxx\r\n--A--\r\n";

struct RuleRun {
  const char* name;
  std::optional<std::string> rules;    // zentry.dat; none: no file
  std::optional<std::string> subject;  // none: variable absent
  std::optional<std::string> message;  // routing.dat without its prefix; none: no file
  std::optional<std::string> label;    // the hitting rule's label; none: no hit
};

const std::string label998(998, 'L');
const std::string label999(999, 'L');
const std::string subject100k(100 * 1024, 'a');
const std::string manyStars = "*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a";

const RuleRun ruleRuns[] = {
    {"subject mask hits", "Spam\nbuy*\n\n", "Buy now", {}, "Spam"},
    {"subject mask misses", "Spam\nbuy*\n\n", "Hello", {}, {}},
    {"no rule file", {}, "Buy now", {}, {}},
    {"empty rule file", "", "Buy now", {}, {}},
    {"all-empty rule hits", "\n\n\n", "anything", {}, ""},
    {"absent subject", "A\n\n\n", {}, {}, "A"},
    {"absent subject against a mask", "A\n?*\n\n", {}, {}, {}},
    {"Q subject decoded first", "Doc\nYour_doc*\n\n", "=?iso-8859-1?Q?Your_document?=", {}, "Doc"},
    {"B subject decoded first", "Doc\nYour document\n\n", "=?utf-8?B?WW91ciBkb2N1bWVudA==?=", {}, "Doc"},
    {"subject trimmed before decoding", "ABC\nabc\n\n", " \t=?x?Q?abc?= ", {}, "ABC"},
    {"encoded form no longer seen", "Raw\n=?*\n\n", "=?x?Q?abc?=", {}, {}},
    {"two encoded words stay", "Raw\n=?*\n\n", "=?x?Q?a?= =?x?Q?b?=", {}, "Raw"},
    {"first rule in file order", "A\nx*\n\nB\n*\n\n", "xyz", {}, "A"},
    {"later rule", "A\nx*\n\nB\n*z\n\n", "wyz", {}, "B"},
    {"CR LF rule file", "A\r\nx*\r\n\r\nB\r\n*\r\n\r\n", "xyz", {}, "A"},
    {"partial rule dropped", "A\nnone\n\nC\n\n", "hi", {}, {}},
    {"trailing space in mask", "A\nhi \n\n", "hi", {}, {}},
    {"file mask needs a name", "A\n\n*\n", "hi", {}, {}},
    {"file mask hits a name", "Exe\n\n*.PIF\n", "hi", pifMessage, "Exe"},
    {"subject and file mask", "Exe\nhi\n*.pif\n", "hi", pifMessage, "Exe"},
    {"subject blocks file mask", "Exe\nho\n*.pif\nAny\n\n*.tmp\n", "hi", pifMessage, "Any"},
    {"NUL ends the label", std::string("Nul") + '\0' + "junk\n*\n\n", "hi", {}, "Nul"},
    {"998-byte label", label998 + "\n*\n\n", "hi", {}, label998},
    {"999-byte label shifts", label999 + "\n*\n\n", "hi", {}, {}},
    {"hostile subject", "Stars\n" + manyStars + "*b\n\n", subject100k, {}, {}},
    {"hostile subject hits", "As\n" + manyStars + "\n\n", subject100k, {}, "As"},
};

TEST(RulesRun, VerdictAndExitCode) {
  for (const RuleRun& r : ruleRuns) {
    SCOPED_TRACE(r.name);
    TempDir dir;
    if (r.rules) dir.write("zentry.dat", *r.rules);
    if (r.message) dir.write("routing.dat", routingFile(*r.message));
    std::vector<std::string> environment;
    if (r.subject) environment.push_back("subject=" + *r.subject);
    const std::string rawSubject = r.subject.value_or("");

    std::string expected = bannerText() + (r.message ? "" : noMessage);
    if (r.label) {
      expected += crlf("To: box\nSubject: Infected (" + r.label->substr(0, 100) + ") - " +
                       rawSubject.substr(0, 100) + "\n");
    }
    const RunResult withLevel = runBinary(dir, {"box", "errorlevel"}, environment);
    EXPECT_EQ(expected, withLevel.output);
    EXPECT_EQ(r.label ? 1 : 0, withLevel.exitCode);

    const RunResult withoutLevel = runBinary(dir, {"box"}, environment);
    EXPECT_EQ(expected, withoutLevel.output);
    EXPECT_EQ(0, withoutLevel.exitCode);
  }
}

}  // namespace
}  // namespace zentry::test
