// Strict mode's walk into attachment examination, whole runs: each body
// encoding reaches the examiner, what it finds is recorded and its route
// traced, and exact mode never looks.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "support/archive_maker.h"
#include "support/e2e.h"
#include "support/mail_encodings.h"

namespace zentry::test {
namespace {

std::string withPart(const std::string& headerLines, const std::string& body) {
  return "Content-Type: multipart/mixed; boundary=A\n\n--A\n" + headerLines + "\n\n" + body + "--A--\n";
}

// A forwarded message as a client saves it into a folder: a text part, then `name` in base64.
std::string savedMail(const std::string& name, const std::string& bytes) {
  return "From: a@example.org\nSubject: fwd\nContent-Type: multipart/mixed; boundary=b\n\n--b\n"
         "Content-Type: text/plain\n\nsee attached\n--b\nContent-Type: application/octet-stream; name=\"" +
         name + "\"\nContent-Transfer-Encoding: base64\n\n" + base64Lines(bytes) + "--b--\n";
}

struct ExaminationCase {
  const char* what;
  std::string message;
  std::vector<std::string> routes;  // the "Inside attachment - " lines, in order
  bool hits;
};

std::vector<ExaminationCase> cases() {
  const std::string inner = makeArchive(ArchiveFormat::Zip, {{"docs/invoice.exe", peHeader(false)}});
  const std::string outer = makeArchive(ArchiveFormat::Zip, {{"inner.zip", inner}, {"readme.txt", "hi"}});
  const std::string pdfs =
      makeArchive(ArchiveFormat::Zip, {{"a.pdf", "%PDF-1.4 a"}, {"b.pdf", "%PDF-1.4 b"}});
  return {
      {"zip in a zip, base64, no archive suffix",
       withPart(
           "Content-Type: application/octet-stream; name=\"mail.dat\"\nContent-Transfer-Encoding: base64",
           base64Lines(outer)),
       {"mail.dat > inner.zip", "mail.dat > inner.zip > docs/invoice.exe", "mail.dat > readme.txt",
        "mail.dat"},
       true},
      {"tar.gz, quoted-printable",
       withPart(
           "Content-Type: application/x-gzip; name=\"pack.tgz\"\nContent-Transfer-Encoding: quoted-printable",
           [&] {
             std::string qp;
             const std::string tgz =
                 makeArchive(ArchiveFormat::Tar, {{"x/run.exe", "MZ"}}, ArchiveFilter::Gzip);
             static const char hex[] = "0123456789ABCDEF";
             for (std::size_t i = 0; i < tgz.size(); ++i) {
               const auto byte = static_cast<unsigned char>(tgz[i]);
               qp += std::string("=") + hex[byte >> 4] + hex[byte & 15];
               if (i % 24 == 23) qp += "=\n";
             }
             return qp + "\n";
           }()),
       {"pack.tgz > pack", "pack.tgz > x/run.exe"},
       true},
      {"zip uuencoded in a text body",
       "Subject: uu\n\nsee the file\nbegin 644 files.zip\n" + uuencodeLines(inner),
       {"files.zip > docs/invoice.exe"},
       true},
      {"plain tar whose first name is UTF-8",
       withPart("Content-Type: application/octet-stream; name=\"t.bin\"\nContent-Transfer-Encoding: base64",
                base64Lines(makeArchive(ArchiveFormat::Tar, {{"r\xC3\xA9sum\xC3\xA9/run.exe", "MZ"}}))),
       {"t.bin > r\xC3\xA9sum\xC3\xA9/run.exe", "t.bin"},
       true},
      {"a program named as a picture",
       withPart("Content-Type: image/jpeg; name=\"photo.jpg\"\nContent-Transfer-Encoding: base64",
                base64Lines(peHeader(false) + std::string(3000, 'x'))),
       {"photo.jpg"},
       true},
      {"TNEF, as Outlook sends it",
       withPart("Content-Type: application/ms-tnef; name=\"winmail.dat\"\nContent-Transfer-Encoding: base64",
                base64Lines(makeTnef({{"INVOIC~1.EXE", "invoice.exe", peHeader(false)}}))),
       {"winmail.dat > invoice.exe", "winmail.dat > INVOIC~1.EXE"},
       true},
      {"a picture with a zip behind it",
       withPart("Content-Type: image/jpeg; name=\"photo.jpg\"\nContent-Transfer-Encoding: base64",
                base64Lines(std::string("\xFF\xD8\xFF\xE0\0\x10JFIF", 10) + std::string(3000, 'x') + inner)),
       {"photo.jpg > docs/invoice.exe", "photo.jpg"},
       true},
      {"a message saved in a zip, with a zip of its own",
       withPart("Content-Type: application/zip; name=\"fwd.zip\"\nContent-Transfer-Encoding: base64",
                base64Lines(
                    makeArchive(ArchiveFormat::Zip, {{"Re: invoice.eml", savedMail("files.zip", inner)}}))),
       {"fwd.zip > Re: invoice.eml", "fwd.zip > Re: invoice.eml > files.zip > docs/invoice.exe",
        "fwd.zip > Re: invoice.eml > File1.tmp", "fwd.zip > Re: invoice.eml > files.zip"},
       true},
      {"zip of PDFs",
       withPart("Content-Type: application/zip; name=\"docs.zip\"\nContent-Transfer-Encoding: base64",
                base64Lines(pdfs)),
       {"docs.zip > a.pdf", "docs.zip > b.pdf"},
       false},
  };
}

std::vector<std::string> routesIn(const std::string& output) {
  std::vector<std::string> routes;
  const std::string marker = "\r\nInside attachment - ";
  for (std::size_t at = output.find(marker); at != std::string::npos; at = output.find(marker, at + 1)) {
    const std::size_t start = at + marker.size();
    routes.push_back(output.substr(start, output.find("\r\n", start) - start));
  }
  return routes;
}

TEST(StrictExaminationRun, FoundNamesRecordedAndRoutesTraced) {
  for (const ExaminationCase& c : cases()) {
    for (const bool strict : {true, false}) {
      TempDir dir;
      dir.write("routing.dat", routingFile(crlf(c.message)));
      dir.write("zentry.dat", "Executable\n\n*.exe\n");
      std::vector<std::string> arguments{"box", "errorlevel", "debug"};
      if (strict) arguments.emplace_back("strict");
      const RunResult run = runBinary(dir, arguments, {"subject=s"});
      EXPECT_EQ(strict ? c.routes : std::vector<std::string>{}, routesIn(run.output)) << c.what;
      EXPECT_EQ(strict && c.hits ? 1 : 0, run.exitCode) << c.what << (strict ? " (strict)" : "");
    }
  }
}

}  // namespace
}  // namespace zentry::test
