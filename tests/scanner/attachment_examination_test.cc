// Attachment examination on bytes the tests make: one row per archive format
// and per renamed-file trick, benign rows that must add nothing, all through
// the real zentry-archive program; and hostile archives, listed in this
// process, that must stay within the message's bounds.
#include "scanner/attachment_examination.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "archive/attachment_listing.h"
#include "platform/archive_lister_process.h"
#include "scanner/content_kind.h"
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

class RecordingSink : public ExaminationSink {
 public:
  void foundName(const std::string& name, const std::string& route) override {
    found.names.push_back(name);
    found.routes.push_back(route);
  }
  Found found;
};

// As the filter examines: archives go to the lister program.
Found examine(const std::string& name, const std::string& bytes, bool truncated = false) {
  static ProcessArchiveLister lister(ZENTRY_ARCHIVE_BINARY);
  useArchiveLister(&lister);
  MessageExamination examination;
  RecordingSink sink;
  examineAttachment(name, reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), truncated,
                    examination, sink);
  return sink.found;
}

// As the lister lists, in this process.
Found list(const std::string& name, const std::string& bytes, ExaminationBudget* budget = nullptr) {
  ExaminationBudget fresh;
  RecordingSink sink;
  listAttachment(name, reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), false,
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
  const std::string javaClass("\xCA\xFE\xBA\xBE\0\0\0\x34", 8);  // class file version 52
  const std::string jar = zipOf({{"META-INF/MANIFEST.MF", "Main-Class: A\n"}, {"A.class", javaClass}});
  const auto tar = [&](ArchiveFilter filter) { return makeArchive(ArchiveFormat::Tar, invoice, filter); };
  // clang-format off
  return {
      // Archive formats and listing tricks.
      {"ZipWithExe", "invoice.zip", zip, {"invoice.exe"}},
      {"ZipInZip", "outer.zip", zipOf({{"inner.zip", zip}}), {"inner.zip", "invoice.exe"}},
      {"MemberInFolder", "a.zip", zipOf({{"docs/2024/invoice.exe", exe}}), {"invoice.exe"}},
      // A message in an archive is read as one: its body is a nameless part.
      {"MessageInZip", "a.zip", zipOf({{"fwd/Re.EML", "Subject: x\n\nhi\n"}}), {"Re.EML", "File0.tmp"}},
      {"ZipWithoutSuffix", "invoice", zip, {"invoice.exe", "invoice|content.zip"}},
      {"TarGz", "files.tar.gz", tar(ArchiveFilter::Gzip), {"files.tar", "invoice.exe"}},
      {"TarBz2", "f.tbz", tar(ArchiveFilter::Bzip2), {"f", "invoice.exe"}},
      {"TarXz", "f.tar.xz", tar(ArchiveFilter::Xz), {"f.tar", "invoice.exe"}},
      {"TarZstd", "f.tar.zst", tar(ArchiveFilter::Zstd), {"f.tar", "invoice.exe"}},
      {"PlainTar", "f.tar", tar(ArchiveFilter::None), {"invoice.exe"}},
      {"GzipStoredName", "report.gz", test::gzipFile("invoice.exe", text), {"invoice.exe"}},
      {"GzipNameFromAttachment", "invoice.exe.gz", test::gzipFile("", text), {"invoice.exe"}},
      {"GzipOfRenamedExe", "a.gz", test::gzipFile("photo.jpg", exe), {"photo.jpg", "photo.jpg|content.exe"}},
      {"ZipInGzip", "a.gz", test::gzipFile("", zip), {"a", "invoice.exe"}},
      // Zeros make an empty tar; the stream's file is named all the same.
      {"ZerosThenExeInGzip", "invoice.exe.gz", test::gzipFile("", std::string(1024, '\0') + exe), {"invoice.exe"}},
      {"SevenZip", "a.7z", makeArchive(ArchiveFormat::SevenZip, invoice), {"invoice.exe"}},
      {"Iso", "a.iso", makeArchive(ArchiveFormat::Iso, invoice), {"invoice.exe"}},
      {"IsoInZip", "a.zip", zipOf({{"disk.img", makeArchive(ArchiveFormat::Iso, invoice)}}), {"disk.img", "invoice.exe"}},
      {"Cpio", "a.cpio", makeArchive(ArchiveFormat::Cpio, invoice), {"invoice.exe"}},
      {"Cabinet", "a.cab", test::makeCabinet(invoice[0]), {"invoice.exe"}},
      {"Rar", "a.rar", test::makeRar(invoice[0]), {"invoice.exe"}},
      {"EncryptedMember", "a.zip", makeArchive(ArchiveFormat::Zip, invoice, ArchiveFilter::None, "secret"), {"invoice.exe", "a.zip|incomplete-archive"}},
      {"TruncatedZip", "a.zip", zip, {"invoice.exe", "a.zip|incomplete-archive"}, true},
      // Renamed content, caught by the usual extension's rule.
      {"RenamedPe", "photo.jpg", exe, {"photo.jpg|content.exe"}},
      {"RenamedDll", "notes.txt", test::peHeader(true), {"notes.txt|content.dll"}},
      {"RenamedElf", "report.pdf", test::elfHeader(), {"report.pdf|content.elf"}},
      {"RenamedBigEndianElf", "a.txt", "\x7F" "ELF\x01\x02" + std::string(58, '\1'), {"a.txt|content.elf"}},
      {"RenamedMachO", "readme", test::machOHeader(), {"readme|content.macho"}},
      {"RenamedShortcut", "scan.pdf", test::shortcutHeader(), {"scan.pdf|content.lnk"}},
      {"RenamedInstaller", "setup.doc", test::oleFile(true), {"setup.doc|content.msi"}},
      {"RenamedJar", "invoice.pdf", jar, {"MANIFEST.MF", "A.class", "invoice.pdf|content.jar"}},
      {"RenamedMember", "a.zip", zipOf({{"photo.jpg", exe}}), {"photo.jpg", "photo.jpg|content.exe"}},
      {"RenamedSevenZip", "photo.png", makeArchive(ArchiveFormat::SevenZip, {{"a.txt", text}}), {"a.txt", "photo.png|content.7z"}},
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
      {"ZipOfPdfs", "docs.zip", zipOf({{"a.pdf", "%PDF-1.4\n"}, {"b.pdf", "%PDF-1.7\n"}}), {"a.pdf", "b.pdf"}},
      {"Docx", "report.docx", zipOf({{"[Content_Types].xml", "<Types/>"}, {"word/document.xml", "<w/>"}}), {"[Content_Types].xml", "document.xml"}},
      {"WordDocument", "letter.doc", test::oleFile(false), {}},
      {"Pdf", "a.pdf", "%PDF-1.4\n%\xE2\xE3\xCF\xD3\n", {}},
      {"Png", "a.png", std::string("\x89PNG\r\n\x1A\n\0\0\0\x0DIHDR", 16), {}},
      {"Jpeg", "a.jpg", std::string("\xFF\xD8\xFF\xE0\x00\x10JFIF", 10), {}},
      {"Text", "a.txt", text, {}},
      {"TextStartingMz", "memo.txt", "MZ Corp quarterly report, all figures attached and checked.\n" + text, {}},
      {"JavaClassNotMachO", "A.class", javaClass, {}},
      {"UniversalMachO", "a.class", std::string("\xCA\xFE\xBA\xBE\0\0\0\x02", 8), {"a.class|content.macho"}},
      {"Empty", "a.zip", "", {}},
      {"DamagedZip", "broken.zip", "PK\x03\x04" + std::string(40, '\x7F'), {"broken.zip|incomplete-archive"}},
      {"DamagedGzip", "a.gz", std::string("\x1F\x8B\x08\0\0\0\0\0\0\x03garbage", 17), {"a.gz|incomplete-archive"}},
      {"ShortPe", "a.jpg", "MZ", {}},
      // Former faults.
      {"NulInExtension", std::string("a.e\0x", 5), exe, {std::string("a.e\0x|content.exe", 17)}},
  };
  // clang-format on
}

// With ZENTRY_WRITE_EXAMINATION_SEEDS=<dir>, every row also becomes a seed of
// the examination fuzz target: its name, a newline, its bytes.
void writeSeed(const Row& row) {
  const char* directory = std::getenv("ZENTRY_WRITE_EXAMINATION_SEEDS");
  if (directory == nullptr) return;
  std::ofstream(std::string(directory) + "/" + row.label, std::ios::binary) << row.name << '\n' << row.bytes;
}

TEST(ExamineAttachment, Table) {
  for (const Row& row : rows()) {
    writeSeed(row);
    EXPECT_EQ(row.names, examine(row.name, row.bytes, row.truncated).names) << row.label;
  }
}

TEST(ExamineAttachment, RouteNamesEveryArchiveAndTheMemberPath) {
  const std::string inner = zipOf({{"docs/invoice.exe", test::peHeader(false)}});
  const Found found = examine("mail.zip", zipOf({{"inner.zip", inner}}));
  ASSERT_EQ(2u, found.routes.size());
  EXPECT_EQ("mail.zip > inner.zip > docs/invoice.exe", found.routes[1]);
  EXPECT_EQ("mail.zip > inner.zip", found.routes[0]);
}

// Hostile archives: each bound is reached, the listing ends with the marker,
// and the message's budget is never overdrawn.
std::string nested(int levels, const std::string& leaf) {
  std::string archive = zipOf({{"leaf.exe", leaf}});
  for (int level = 1; level < levels; ++level) archive = zipOf({{"level.zip", archive}});
  return archive;
}

// A 42.zip-style nest: every level holds `fanOut` copies of the one below,
// the leaves are `leafBytes` zeros.
std::string bombNest(int levels, int fanOut, std::size_t leafBytes) {
  std::vector<ArchiveMember> members;
  for (int i = 0; i < fanOut; ++i)
    members.push_back({"zeros" + std::to_string(i) + ".bin", std::string(leafBytes, '\0')});
  std::string archive = zipOf(members);
  for (int level = 1; level < levels; ++level) {
    members.clear();
    for (int i = 0; i < fanOut; ++i) members.push_back({"nest" + std::to_string(i) + ".zip", archive});
    archive = zipOf(members);
  }
  return archive;
}

// A zip whose central directory lists its one member `copies` times: every
// entry points at the same compressed data.
std::string overlapping(int copies, const std::string& member) {
  std::string zip = zipOf({{"zeros.bin", member}});
  const std::size_t directory = zip.rfind("PK\x01\x02");
  const std::size_t end = zip.rfind("PK\x05\x06");
  const std::string entry = zip.substr(directory, end - directory);
  std::string trailer = zip.substr(end);
  zip.resize(directory);
  for (int i = 0; i < copies; ++i) zip += entry;
  const auto count = static_cast<std::uint16_t>(copies);
  trailer[8] = trailer[10] = static_cast<char>(count & 0xFF);
  trailer[9] = trailer[11] = static_cast<char>(count >> 8);
  const auto size = static_cast<std::uint32_t>(entry.size() * static_cast<std::size_t>(copies));
  for (int i = 0; i < 4; ++i)
    trailer[12 + static_cast<std::size_t>(i)] = static_cast<char>((size >> (8 * i)) & 0xFF);
  return zip + trailer;
}

bool endsWith(const std::vector<std::string>& names, const std::string& last) {
  return !names.empty() && names.back() == last;
}

TEST(ExamineAttachment, HundredThousandMembersStopAtTheMessageBound) {
  std::vector<ArchiveMember> members(100000);
  for (std::size_t i = 0; i < members.size(); ++i) members[i].path = std::to_string(i) + ".txt";
  ExaminationBudget budget;
  const Found found = list("many.tar", makeArchive(ArchiveFormat::Tar, members), &budget);
  EXPECT_EQ(maxMembersPerMessage + 1u, found.names.size());
  EXPECT_TRUE(endsWith(found.names, "many.tar|incomplete-archive"));
  EXPECT_EQ(0u, budget.membersLeft);
}

TEST(ExamineAttachment, NestingDeeperThanTheBoundIsMarkedNotOpened) {
  const Found found = list("mail.zip", nested(maxArchiveDepth + 2, test::peHeader(false)));
  EXPECT_EQ(static_cast<std::size_t>(maxArchiveDepth) + 1, found.names.size());
  EXPECT_TRUE(endsWith(found.names, "level.zip|incomplete-archive"));
  EXPECT_EQ(2u, list("mail.zip", nested(2, test::peHeader(false))).names.size());
}

TEST(ExamineAttachment, GzipBombSpendsTheBudgetAndNoMore) {
  // 100 concatenated gzip members of 1 MiB: 100 MiB from 100 KB.
  std::string bomb;
  const std::string member = test::gzipFile("", std::string(1 << 20, 'A'));
  for (int i = 0; i < 100; ++i) bomb += member;
  ExaminationBudget budget;
  const Found found = list("bomb.gz", bomb, &budget);
  EXPECT_EQ((std::vector<std::string>{"bomb", "bomb.gz|incomplete-archive"}), found.names);
  EXPECT_EQ(0u, budget.decompressedBytesLeft);
}

TEST(ExamineAttachment, CompressedTarStopsWhereTheBudgetEnds) {
  // The second member lies behind 4 MiB that only decompression gets past.
  const std::string tgz = makeArchive(
      ArchiveFormat::Tar, {{"big.bin", std::string(4 << 20, 'A')}, {"b.exe", "x"}}, ArchiveFilter::Gzip);
  ExaminationBudget budget;
  budget.decompressedBytesLeft = 1 << 20;
  EXPECT_EQ((std::vector<std::string>{"f.tar", "big.bin", "f.tar.gz|incomplete-archive"}),
            list("f.tar.gz", tgz, &budget).names);
}

TEST(ExamineAttachment, NestedZipBombEndsWithinBothBounds) {
  ExaminationBudget budget;
  const Found found = list("42.zip", bombNest(4, 16, 256 * 1024), &budget);
  EXPECT_LE(found.names.size(), maxMembersPerMessage + 16u * 16u * 16u);
  EXPECT_TRUE(endsWith(found.names, "42.zip|incomplete-archive"));
  EXPECT_TRUE(budget.membersLeft == 0 || budget.decompressedBytesLeft == 0);
}

TEST(ExamineAttachment, OverlappingEntriesAreReadOnce) {
  ExaminationBudget budget;
  const Found found = list("overlap.zip", overlapping(5000, std::string(1 << 20, 'A')), &budget);
  EXPECT_EQ(std::vector<std::string>{"zeros.bin"}, found.names);
  // One block of the member is inflated (libarchive's 256 KiB), not one per entry.
  EXPECT_GE(budget.decompressedBytesLeft, maxDecompressedBytesPerMessage - (1u << 20));
}

TEST(ExamineAttachment, HugeClaimedSizeAllocatesNothingUpFront) {
  std::string zip = zipOf({{"small.zip", zipOf({{"a.exe", "x"}})}});
  const std::size_t directory = zip.rfind("PK\x01\x02");
  for (std::size_t i = 24; i < 28; ++i) zip[directory + i] = '\xFF';  // uncompressed size: 4 GiB
  ExaminationBudget budget;
  const Found found = list("claim.zip", zip, &budget);
  ASSERT_FALSE(found.names.empty());
  EXPECT_EQ("small.zip", found.names[0]);
}

TEST(ExamineAttachment, LongMemberNameKeepsItsTail) {
  const std::string name = std::string(5000, 'a') + ".exe";
  const Found found = list("a.tar", makeArchive(ArchiveFormat::Tar, {{"dir/" + name, "x"}}));
  ASSERT_EQ(1u, found.names.size());
  EXPECT_EQ(name.substr(name.size() - maxMemberNameBytes), found.names[0]);
  EXPECT_EQ("a.tar > " + name.substr(name.size() - maxMemberNameBytes), found.routes[0]);
}

}  // namespace
}  // namespace zentry
