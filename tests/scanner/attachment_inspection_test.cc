// Attachment inspection on bytes the tests make: one row per archive format
// and per renamed-file trick, benign rows that must add nothing, and hostile
// archives that must stay within the message's bounds.
#include "scanner/attachment_inspection.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "support/archive_maker.h"

namespace zentry {
namespace {

using test::ArchiveFilter;
using test::ArchiveFormat;
using test::ArchiveMember;
using test::makeArchive;

struct Found {
  std::vector<std::string> names;
  std::vector<std::string> routes;
};

class RecordingSink : public InspectionSink {
 public:
  void foundName(const std::string& name, const std::string& route) override {
    found.names.push_back(name);
    found.routes.push_back(route);
  }
  Found found;
};

Found inspect(const std::string& name, const std::string& bytes, bool truncated = false,
              InspectionBudget* budget = nullptr) {
  InspectionBudget fresh;
  RecordingSink sink;
  inspectAttachment(name, reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), truncated,
                    budget != nullptr ? *budget : fresh, sink);
  return sink.found;
}

struct Row {
  const char* label;
  std::string name;
  std::string bytes;
  std::vector<std::string> names;
  bool truncated = false;
};

std::string zipOf(const std::vector<ArchiveMember>& members) {
  return makeArchive(ArchiveFormat::Zip, members);
}

std::vector<Row> rows() {
  const std::string exe = test::peHeader(false);
  const std::vector<ArchiveMember> invoice = {{"invoice.exe", exe}};
  const std::string text = "Please find the invoice attached.\n";
  const std::string zip = zipOf(invoice);
  const std::string jar =
      zipOf({{"META-INF/MANIFEST.MF", "Main-Class: A\n"}, {"A.class", "\xCA\xFE\xBA\xBE\0\0\0\x34"}});
  return {
      // Archive formats and listing tricks.
      {"ZipWithExe", "invoice.zip", zip, {"invoice.exe"}},
      {"ZipInZip", "outer.zip", zipOf({{"inner.zip", zip}}), {"inner.zip", "invoice.exe"}},
      {"MemberInFolder", "a.zip", zipOf({{"docs/2024/invoice.exe", exe}}), {"invoice.exe"}},
      {"ZipWithoutSuffix", "invoice", zip, {"invoice.exe", "invoice|content.zip"}},
      {"TarGz",
       "files.tar.gz",
       makeArchive(ArchiveFormat::Tar, invoice, ArchiveFilter::Gzip),
       {"invoice.exe"}},
      {"TarBz2", "f.tbz", makeArchive(ArchiveFormat::Tar, invoice, ArchiveFilter::Bzip2), {"invoice.exe"}},
      {"TarXz", "f.tar.xz", makeArchive(ArchiveFormat::Tar, invoice, ArchiveFilter::Xz), {"invoice.exe"}},
      {"TarZstd",
       "f.tar.zst",
       makeArchive(ArchiveFormat::Tar, invoice, ArchiveFilter::Zstd),
       {"invoice.exe"}},
      {"PlainTar", "f.tar", makeArchive(ArchiveFormat::Tar, invoice), {"invoice.exe"}},
      {"GzipStoredName", "report.gz", test::gzipFile("invoice.exe", text), {"invoice.exe"}},
      {"GzipNameFromAttachment", "invoice.exe.gz", test::gzipFile("", text), {"invoice.exe"}},
      {"GzipOfRenamedExe", "a.gz", test::gzipFile("photo.jpg", exe), {"photo.jpg", "photo.jpg|content.exe"}},
      {"ZipInGzip", "a.gz", test::gzipFile("", zip), {"invoice.exe"}},
      {"SevenZip", "a.7z", makeArchive(ArchiveFormat::SevenZip, invoice), {"invoice.exe"}},
      {"Iso", "a.iso", makeArchive(ArchiveFormat::Iso, invoice), {"invoice.exe"}},
      {"IsoInZip",
       "a.zip",
       zipOf({{"disk.img", makeArchive(ArchiveFormat::Iso, invoice)}}),
       {"disk.img", "invoice.exe"}},
      {"Cpio", "a.cpio", makeArchive(ArchiveFormat::Cpio, invoice), {"invoice.exe"}},
      {"Cabinet", "a.cab", test::makeCabinet(invoice[0]), {"invoice.exe"}},
      {"Rar", "a.rar", test::makeRar(invoice[0]), {"invoice.exe"}},
      {"TruncatedZip", "a.zip", zip, {"invoice.exe", "a.zip|incomplete-archive"}, true},
      // Renamed content, caught by the usual extension's rule.
      {"RenamedPe", "photo.jpg", exe, {"photo.jpg|content.exe"}},
      {"RenamedDll", "notes.txt", test::peHeader(true), {"notes.txt|content.dll"}},
      {"RenamedElf", "report.pdf", test::elfHeader(), {"report.pdf|content.elf"}},
      {"RenamedMachO", "readme", test::machOHeader(), {"readme|content.macho"}},
      {"RenamedShortcut", "scan.pdf", test::shortcutHeader(), {"scan.pdf|content.lnk"}},
      {"RenamedInstaller", "setup.doc", test::oleFile(true), {"setup.doc|content.msi"}},
      {"RenamedJar", "invoice.pdf", jar, {"MANIFEST.MF", "A.class", "invoice.pdf|content.jar"}},
      {"RenamedMember", "a.zip", zipOf({{"photo.jpg", exe}}), {"photo.jpg", "photo.jpg|content.exe"}},
      {"RenamedSevenZip",
       "photo.png",
       makeArchive(ArchiveFormat::SevenZip, {{"a.txt", text}}),
       {"a.txt", "photo.png|content.7z"}},
      // Content that agrees with its name adds nothing.
      {"NamedExe", "setup.exe", exe, {}},
      {"NamedExeTrailingDot", "SETUP.EXE. ", exe, {}},
      {"NamedDll", "x.dll", test::peHeader(true), {}},
      {"NamedElf", "libx.so", test::elfHeader(), {}},
      {"NamedMachO", "libx.dylib", test::machOHeader(), {}},
      {"NamedShortcut", "Word.lnk", test::shortcutHeader(), {}},
      {"NamedInstaller", "setup.msi", test::oleFile(true), {}},
      {"NamedJar", "app.jar", jar, {"MANIFEST.MF", "A.class"}},
      // Benign documents and their archives.
      {"ZipOfPdfs",
       "docs.zip",
       zipOf({{"a.pdf", "%PDF-1.4\n"}, {"b.pdf", "%PDF-1.7\n"}}),
       {"a.pdf", "b.pdf"}},
      {"Docx",
       "report.docx",
       zipOf({{"[Content_Types].xml", "<Types/>"}, {"word/document.xml", "<w/>"}}),
       {"[Content_Types].xml", "document.xml"}},
      {"WordDocument", "letter.doc", test::oleFile(false), {}},
      {"Pdf", "a.pdf", "%PDF-1.4\n%\xE2\xE3\xCF\xD3\n", {}},
      {"Png", "a.png", std::string("\x89PNG\r\n\x1A\n\0\0\0\x0DIHDR", 16), {}},
      {"Jpeg", "a.jpg", "\xFF\xD8\xFF\xE0\x00\x10JFIF", {}},
      {"Text", "a.txt", text, {}},
      {"TextStartingMz",
       "memo.txt",
       "MZ Corp quarterly report, all figures attached and checked.\n" + text,
       {}},
      {"JavaClassNotMachO", "A.class", "\xCA\xFE\xBA\xBE\0\0\0\x34", {}},
      {"Empty", "a.zip", "", {}},
      {"DamagedZip", "broken.zip", "PK\x03\x04" + std::string(40, '\x7F'), {"broken.zip|incomplete-archive"}},
      {"DamagedGzip",
       "a.gz",
       std::string("\x1F\x8B\x08\0\0\0\0\0\0\x03garbage", 17),
       {"a.gz|incomplete-archive"}},
      {"ShortPe", "a.jpg", "MZ", {}},
  };
}

// With ZENTRY_WRITE_INSPECTION_SEEDS=<dir>, every row also becomes a seed of
// the inspection fuzz target: its name, a newline, its bytes.
void writeSeed(const Row& row) {
  const char* directory = std::getenv("ZENTRY_WRITE_INSPECTION_SEEDS");
  if (directory == nullptr) return;
  std::ofstream(std::string(directory) + "/" + row.label, std::ios::binary) << row.name << '\n' << row.bytes;
}

TEST(InspectAttachment, Table) {
  for (const Row& row : rows()) {
    writeSeed(row);
    EXPECT_EQ(row.names, inspect(row.name, row.bytes, row.truncated).names) << row.label;
  }
}

TEST(InspectAttachment, RouteNamesEveryArchiveAndTheMemberPath) {
  const std::string inner = zipOf({{"docs/invoice.exe", test::peHeader(false)}});
  const Found found = inspect("mail.zip", zipOf({{"inner.zip", inner}}));
  ASSERT_EQ(2u, found.routes.size());
  EXPECT_EQ("mail.zip > inner.zip > docs/invoice.exe", found.routes[1]);
  EXPECT_EQ("mail.zip > inner.zip", found.routes[0]);
}

}  // namespace
}  // namespace zentry
