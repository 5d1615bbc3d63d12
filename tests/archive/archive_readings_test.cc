// The readings strict mode adds to libarchive's own, each as the tools that
// open such a file read it: TNEF attachments, a zip's central directory and
// what lies before it, Joliet names, old tars, zip folders that hold data,
// disk images. One row per trick (the name a `*.exe` rule catches and the
// trace route that shows where it came from), benign rows that must not
// hit; then hostile inputs for each new reading's bounds. Archives are made
// here, disk images by Debian's own tools.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "archive/attachment_listing.h"
#include "core/string.h"
#include "platform/archive_lister_process.h"
#include "scanner/archive_limits.h"
#include "scanner/attachment_examination.h"
#include "scanner/carried_message.h"
#include "support/archive_maker.h"
#include "support/mail_encodings.h"

namespace zentry {
namespace {

using test::ArchiveFormat;
using test::ArchiveMember;
using test::makeArchive;
using test::TnefAttachment;

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

// As the filter examines: carriers and archives go to the lister program,
// handed over as a memory file unless `handOver` says otherwise.
Found examine(const std::string& name, const std::string& bytes,
              ListerHandOver handOver = ListerHandOver::MemoryFile) {
  static ProcessArchiveLister mapping(ZENTRY_ARCHIVE_BINARY);
  static ProcessArchiveLister streaming(ZENTRY_ARCHIVE_BINARY, {}, ListerHandOver::Stream);
  useArchiveLister(handOver == ListerHandOver::MemoryFile ? &mapping : &streaming);
  MessageExamination examination;
  RecordingSink sink;
  examineAttachment(name, reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), false,
                    examination, sink);
  return sink.found;
}

// As the lister lists, in this process.
Found list(const std::string& name, const std::string& bytes, ExaminationBudget& budget) {
  RecordingSink sink;
  listAttachment(name, reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), false, budget,
                 sink);
  return sink.found;
}

bool hits(const std::string& mask, const std::string& name) {
  return String(name.c_str()).wildcardMismatch(String(mask.c_str())) == 0;
}

const std::string exe = test::peHeader(false);

std::string zipOf(const std::vector<ArchiveMember>& members) {
  return makeArchive(ArchiveFormat::Zip, members);
}

// A zip whose central directory names its member `shown` while the local
// header says `local` (the same length).
std::string zipShowing(const std::string& local, const std::string& shown) {
  std::string zip = zipOf({{local, exe}});
  const std::size_t directory = zip.rfind("PK\x01\x02");
  zip.replace(zip.find(local, directory), shown.size(), shown);
  return zip;
}

// A zip whose one entry carries the MS-DOS folder attribute and data.
std::string zipWithDataInFolder(const std::string& name) {
  std::string zip = zipOf({{name, exe}});
  const std::size_t directory = zip.rfind("PK\x01\x02");
  zip[directory + 5] = 0;  // made on MS-DOS: the attributes are MS-DOS's
  zip[directory + 38] = 0x10;
  return zip;
}

// An old tar: the ustar magic and version cleared, the checksum written anew.
std::string oldTar(const std::string& name) {
  std::string tar = makeArchive(ArchiveFormat::Tar, {{name, exe}});
  std::fill(tar.begin() + 257, tar.begin() + 265, '\0');
  std::fill(tar.begin() + 148, tar.begin() + 156, ' ');
  unsigned sum = 0;
  for (std::size_t i = 0; i < 512; ++i) sum += static_cast<unsigned char>(tar[i]);
  char field[9];
  std::snprintf(field, sizeof field, "%06o", sum);
  tar.replace(148, 7, std::string(field, 6) + '\0');
  return tar;
}

// genisoimage writes a Joliet name of at most 64 characters and a full Rock
// Ridge one: a longer name loses its tail in the name Windows shows.
std::string isoWithLongName(const std::string& name) {
  return test::runImageTool(
      "mkdir d && printf 'MZ' > 'd/" + name + "' && genisoimage -quiet -J -R -o a.iso d", "a.iso");
}

const std::string longExeName = std::string(60, 'a') + ".exe";  // 64 characters, then ".txt"

std::string fatFloppy() {
  return test::runImageTool("printf 'MZ' > x && mkfs.fat -C f.img 1440 && mcopy -i f.img x ::invoice.exe",
                            "f.img");
}

std::string fromFloppy(const std::string& conversion, const std::string& output) {
  return test::runImageTool(
      "printf 'MZ' > x && mkfs.fat -C f.img 1440 && mcopy -i f.img x ::invoice.exe && " + conversion, output);
}

// A forwarded message as a client saves it: a text part, then `name` in base64.
std::string mailWith(const std::string& name, const std::string& bytes) {
  return "From: a@example.org\nSubject: fwd\nMIME-Version: 1.0\n"
         "Content-Type: multipart/mixed; boundary=\"b\"\n\n--b\nContent-Type: text/plain\n\nsee attached\n"
         "--b\nContent-Type: application/octet-stream; name=\"" +
         name + "\"\nContent-Transfer-Encoding: base64\n\n" + test::base64Lines(bytes) + "--b--\n";
}

// Mail in a zip in mail in a zip ..., `levels` messages deep, the program in the innermost.
std::string mailsInZips(int levels) {
  std::string zip = zipOf({{"m.eml", mailWith("invoice.exe", exe)}});
  for (int level = 1; level < levels; ++level) zip = zipOf({{"m.eml", mailWith("in.zip", zip)}});
  return zip;
}

struct Trick {
  const char* label;
  std::string name;
  std::string bytes;
  std::string caught;  // the name a rule catches
  std::string route;   // the trace route it came with
};

std::vector<Trick> tricks() {
  const std::string zip = zipOf({{"invoice.exe", exe}});
  const std::string iso = makeArchive(ArchiveFormat::Iso, {{"invoice.exe", exe}});
  const std::string tnefZip = test::makeTnef({{"docs.zip", "", zip}});
  // clang-format off
  return {
      // Other carriers: TNEF.
      {"TnefTitle", "winmail.dat", test::makeTnef({{"invoice.exe", "", exe}}), "invoice.exe", "winmail.dat > invoice.exe"},
      {"TnefLongName", "winmail.dat", test::makeTnef({{"INVOIC~1.PDF", "invoice.pdf.exe", "%PDF"}}), "invoice.pdf.exe", "winmail.dat > invoice.pdf.exe"},
      {"TnefWithoutData", "winmail.dat", test::makeTnef({{"invoice.exe", "", ""}}), "invoice.exe", "winmail.dat > invoice.exe"},
      {"TnefZip", "winmail.dat", tnefZip, "invoice.exe", "winmail.dat > docs.zip > invoice.exe"},
      {"TnefInTnef", "winmail.dat", test::makeTnef({{"inner.dat", "", tnefZip}}), "invoice.exe", "winmail.dat > inner.dat > docs.zip > invoice.exe"},
      {"TnefRenamedProgram", "winmail.dat", test::makeTnef({{"photo.jpg", "", exe}}), "photo.jpg|content.exe", "winmail.dat > photo.jpg"},
      {"TnefRenamed", "message.txt", test::makeTnef({{"invoice.exe", "", exe}}), "invoice.exe", "message.txt > invoice.exe"},
      // Other carriers: mail saved into an archive, read as mail.
      {"MessageInZip", "a.zip", zipOf({{"fwd/mail.eml", mailWith("invoice.exe", exe)}}), "invoice.exe", "a.zip > fwd/mail.eml > invoice.exe"},
      {"MessageByContent", "a.zip", zipOf({{"notes.txt", mailWith("invoice.exe", exe)}}), "invoice.exe", "a.zip > notes.txt > invoice.exe"},
      {"MessageInTnef", "winmail.dat", test::makeTnef({{"fwd.eml", "", mailWith("invoice.exe", exe)}}), "invoice.exe", "winmail.dat > fwd.eml > invoice.exe"},
      {"ZipInMessageInZip", "a.zip", zipOf({{"mail.eml", mailWith("docs.zip", zip)}}), "invoice.exe", "a.zip > mail.eml > docs.zip > invoice.exe"},
      {"UuencodedInMessageInZip", "a.zip", zipOf({{"mail.eml", "Subject: uu\n\nbegin 644 invoice.exe\n" + test::uuencodeLines(exe)}}), "invoice.exe", "a.zip > mail.eml > invoice.exe"},
      {"BinHexInMessageInZip", "a.zip", zipOf({{"mail.eml", "Subject: mac\n\n" + test::binHexLines("invoice.exe", "MZ")}}), "invoice.exe", "a.zip > mail.eml > invoice.exe"},
      {"RenamedProgramInMessageInZip", "a.zip", zipOf({{"mail.eml", mailWith("photo.jpg", exe)}}), "photo.jpg|content.exe", "a.zip > mail.eml > photo.jpg"},
      {"MessagesFourDeep", "a.zip", mailsInZips(4), "invoice.exe", "a.zip > m.eml > in.zip > m.eml > in.zip > m.eml > in.zip > m.eml > invoice.exe"},
      // Zip as its directory says, wherever it starts.
      {"CentralDirectoryName", "a.zip", zipShowing("invoice.pdf", "invoice.exe"), "invoice.exe", "a.zip > invoice.exe (central directory)"},
      {"LocalHeaderName", "a.zip", zipShowing("invoice.exe", "invoice.pdf"), "invoice.exe", "a.zip > invoice.exe"},
      {"SelfExtracting", "update.bin", exe + zip, "invoice.exe", "update.bin > invoice.exe"},
      {"PictureWithZip", "photo.jpg", std::string("\xFF\xD8\xFF\xE0\0\x10JFIF", 10) + std::string(2000, '\x11') + zip, "invoice.exe", "photo.jpg > invoice.exe"},
      {"SplitZipOfOneSegment", "a.zip", "PK\x07\x08" + zip, "invoice.exe", "a.zip > invoice.exe"},
      {"FolderWithData", "a.zip", zipWithDataInFolder("invoice.exe"), "invoice.exe", "a.zip > invoice.exe (folder with data)"},
      // ISO 9660, tar.
      {"JolietName", "a.iso", isoWithLongName(longExeName + ".txt"), longExeName, "a.iso > " + longExeName + " (Joliet)"},
      {"IsoBehindProgram", "a.bin", exe + iso.substr(exe.size()), "invoice.exe", "a.bin > invoice.exe"},
      {"IsoBehindText", "a.txt", std::string(32768, 'x') + iso.substr(32768), "invoice.exe", "a.txt > invoice.exe"},
      {"OldTar", "a.tar", oldTar("invoice.exe"), "invoice.exe", "a.tar > invoice.exe"},
      // Disk images by their content.
      {"FatFloppy", "disk.dat", fatFloppy(), "disk.dat|content.img", "disk.dat"},
      {"FixedVhd", "disk.dat", fromFloppy("qemu-img convert -f raw -O vpc -o subformat=fixed f.img d.vhd", "d.vhd"), "disk.dat|content.vhd", "disk.dat"},
      {"DynamicVhd", "disk.dat", fromFloppy("qemu-img convert -f raw -O vpc f.img d.vhd", "d.vhd"), "disk.dat|content.vhd", "disk.dat"},
      {"Vhdx", "disk.dat", fromFloppy("qemu-img convert -f raw -O vhdx f.img d.vhdx", "d.vhdx"), "disk.dat|content.vhdx", "disk.dat"},
  };
  // clang-format on
}

// With ZENTRY_WRITE_EXAMINATION_SEEDS=<dir>, every row also becomes a seed of
// the examination fuzz target: its name, a newline, its bytes.
void writeSeed(const char* label, const std::string& name, const std::string& bytes) {
  const char* directory = std::getenv("ZENTRY_WRITE_EXAMINATION_SEEDS");
  if (directory == nullptr) return;
  std::ofstream(std::string(directory) + "/" + label, std::ios::binary) << name << '\n' << bytes;
}

TEST(ArchiveReadings, TricksAreCaughtWithTheirRoute) {
  for (const Trick& trick : tricks()) {
    writeSeed(trick.label, trick.name, trick.bytes);
    const Found found = examine(trick.name, trick.bytes);
    bool caught = false;
    for (std::size_t i = 0; i < found.names.size(); ++i)
      caught = caught || (found.names[i] == trick.caught && found.routes[i] == trick.route);
    EXPECT_TRUE(caught) << trick.label << ": " << ::testing::PrintToString(found.routes);
    EXPECT_EQ(found.names.end(),
              std::find(found.names.begin(), found.names.end(), trick.name + "|incomplete-archive"))
        << trick.label;
    // The bytes streamed on the socket, as when no memory file can be made, read alike.
    const Found streamed = examine(trick.name, trick.bytes, ListerHandOver::Stream);
    EXPECT_EQ(found.names, streamed.names) << trick.label;
    EXPECT_EQ(found.routes, streamed.routes) << trick.label;
  }
}

// Larger than the socket's buffers, and its directory at the end: streamed,
// the lister must be fed while it reads; mapped, the whole file must be.
TEST(ArchiveReadings, LargeAttachmentReachesTheListerWhole) {
  std::string noise(std::size_t{2} << 20, '\0');
  std::uint32_t state = 1;
  for (char& byte : noise) {
    state = state * 1103515245u + 12345u;
    byte = static_cast<char>(state >> 24);
  }
  const std::string zip =
      makeArchive(ArchiveFormat::Zip, {{"big.bin", noise}, {"invoice.exe", exe}}, test::ArchiveFilter::None);
  for (const ListerHandOver handOver : {ListerHandOver::MemoryFile, ListerHandOver::Stream}) {
    const Found found = examine("a.zip", zip, handOver);
    EXPECT_EQ((std::vector<std::string>{"big.bin", "invoice.exe"}), found.names);
  }
}

struct Benign {
  const char* label;
  std::string name;
  std::string bytes;
};

std::vector<Benign> benignFiles() {
  const std::string xml = "<?xml version=\"1.0\"?><x/>";
  // clang-format off
  return {
      {"Docx", "report.docx", zipOf({{"[Content_Types].xml", xml}, {"_rels/.rels", xml}, {"word/document.xml", xml}, {"docProps/app.xml", xml}})},
      {"Xlsx", "figures.xlsx", zipOf({{"[Content_Types].xml", xml}, {"xl/workbook.xml", xml}, {"xl/worksheets/sheet1.xml", xml}})},
      {"Odt", "letter.odt", zipOf({{"mimetype", "application/vnd.oasis.opendocument.text"}, {"content.xml", xml}, {"META-INF/manifest.xml", xml}})},
      {"ZipOfExePdfs", "scans.zip", zipOf({{"invoice.exe.pdf", "%PDF-1.4"}, {"order.exe.pdf", "%PDF-1.4"}})},
      {"TarWithSetupFolder", "setup.tar", makeArchive(ArchiveFormat::Tar, {{"setup.exe/", ""}, {"setup.exe/readme.txt", "hello"}})},
      {"IsoWithShortNames", "cd.iso", isoWithLongName("readme.txt")},
      {"Picture", "photo.jpg", std::string("\xFF\xD8\xFF\xE0\0\x10JFIF", 10) + std::string(5000, '\x22')},
      {"TnefOfDocuments", "winmail.dat", test::makeTnef({{"report.pdf", "quarterly report.pdf", "%PDF-1.4"}})},
  };
  // clang-format on
}

TEST(ArchiveReadings, BenignFilesDoNotHit) {
  for (const Benign& file : benignFiles()) {
    writeSeed(file.label, file.name, file.bytes);
    const Found found = examine(file.name, file.bytes);
    for (std::size_t i = 0; i < found.names.size(); ++i) {
      EXPECT_FALSE(hits("*.exe", found.names[i]) || hits("*|*", found.names[i]))
          << file.label << ": " << found.names[i];
      EXPECT_EQ(std::string::npos, found.routes[i].find(" (")) << file.label << ": " << found.routes[i];
    }
  }
}

// Hostile inputs for the new readings: each ends within the message's
// bounds, with the marker where a bound cut it, well within a second.
class HostileReading : public ::testing::Test {
 protected:
  Found listTimed(const std::string& name, const std::string& bytes) {
    const auto start = std::chrono::steady_clock::now();
    Found found = list(name, bytes, budget);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1)) << name;
    EXPECT_LE(budget.decompressedBytesLeft, maxDecompressedBytesPerMessage);
    return found;
  }
  static bool marked(const Found& found, const std::string& name) {
    return std::find(found.names.begin(), found.names.end(), name + "|incomplete-archive") !=
           found.names.end();
  }
  ExaminationBudget budget;
};

TEST_F(HostileReading, TnefOfManyAttachmentsStopsAtItsBound) {
  std::vector<TnefAttachment> many(maxTnefAttachments + 500, TnefAttachment{"a.txt", "", "x"});
  const Found found = listTimed("winmail.dat", test::makeTnef(many));
  EXPECT_TRUE(marked(found, "winmail.dat"));
  EXPECT_EQ(maxMembersPerMessage - maxTnefAttachments, budget.membersLeft);
}

TEST_F(HostileReading, TnefNestedDeeperThanTheBoundIsMarked) {
  std::string tnef = test::makeTnef({{"invoice.exe", "", exe}});
  for (int level = 0; level < maxArchiveDepth + 2; ++level) tnef = test::makeTnef({{"inner.dat", "", tnef}});
  const Found found = listTimed("winmail.dat", tnef);
  EXPECT_TRUE(marked(found, "inner.dat"));
  EXPECT_EQ(found.names.end(), std::find(found.names.begin(), found.names.end(), "invoice.exe"));
}

TEST_F(HostileReading, DamagedTnefKeepsTheNamesBeforeTheDamage) {
  std::string tnef = test::makeTnef({{"first.exe", "", "x"}, {"second.exe", "", "y"}});
  tnef[tnef.size() - 1] ^= 0x55;  // the last record's checksum
  const Found found = listTimed("winmail.dat", tnef);
  EXPECT_EQ("first.exe", found.names.front());
  EXPECT_TRUE(marked(found, "winmail.dat"));
}

TEST_F(HostileReading, CentralDirectoryOfManyDifferingNamesStopsAtTheMemberBound) {
  // Room for 600 members: the local headers' 500, then 100 of the directory's.
  budget.membersLeft = 600;
  std::vector<ArchiveMember> members(500);
  for (std::size_t i = 0; i < members.size(); ++i)
    members[i] = {"m" + std::to_string(100000 + i) + ".pdf", ""};
  std::string zip = zipOf(members);
  // Every directory name differs from its local header's.
  for (std::size_t at = zip.find("PK\x01\x02"); at != std::string::npos; at = zip.find("PK\x01\x02", at + 4))
    zip[at + 46] = 'x';
  const Found found = listTimed("many.zip", zip);
  EXPECT_TRUE(marked(found, "many.zip"));
  EXPECT_EQ(0u, budget.membersLeft);
  EXPECT_EQ(601u, found.names.size());
}

TEST_F(HostileReading, EndRecordsInTheLastBytesAreSearchedOnce) {
  // 64 KiB of end records that close no directory, behind a program.
  std::string bytes = exe;
  while (bytes.size() < 70000)
    bytes += std::string("PK\x05\x06\0\0\0\0\x01\0\x01\0\x2E\0\0\0\0\0\0\0\0\0", 22);
  const Found found = listTimed("a.bin", bytes);
  EXPECT_EQ(std::vector<std::string>{"a.bin|content.exe"}, found.names);
}

TEST_F(HostileReading, CentralDirectoryPointingOutsideTheFileListsItsName) {
  std::string zip = zipOf({{"invoice.pdf", exe}});
  const std::size_t directory = zip.rfind("PK\x01\x02");
  for (std::size_t i = 42; i < 46; ++i) zip[directory + i] = '\x7F';  // local header offset
  zip.replace(zip.find("invoice.pdf", directory), 11, "invoice.exe");
  const Found found = listTimed("a.zip", zip);
  EXPECT_NE(found.names.end(), std::find(found.names.begin(), found.names.end(), "invoice.exe"));
}

TEST_F(HostileReading, JolietReadingStaysWithinTheMemberBound) {
  // 50 names whose Joliet forms all differ; room for 60 members in all.
  const std::string iso =
      test::runImageTool("mkdir d && for i in $(seq 10 59); do printf x > d/" + std::string(62, 'a') +
                             "$i.txt; done && genisoimage -quiet -J -R -o a.iso d",
                         "a.iso");
  budget.membersLeft = 60;
  const Found found = listTimed("a.iso", iso);
  EXPECT_TRUE(marked(found, "a.iso"));
  EXPECT_EQ(0u, budget.membersLeft);
  EXPECT_LE(found.names.size(), 61u);  // the members, then the marker
}

bool foundWithRoute(const Found& found, const std::string& name, const std::string& route) {
  for (std::size_t i = 0; i < found.names.size(); ++i) {
    if (found.names[i] == name && found.routes[i] == route) return true;
  }
  return false;
}

bool foundAnywhere(const Found& found, const std::string& name) {
  return std::find(found.names.begin(), found.names.end(), name) != found.names.end();
}

TEST_F(HostileReading, MessagesAndArchivesNestedPastTheDepthBoundAreMarked) {
  // Each message and each archive is one level: the fifth zip is level 9.
  const Found messages = listTimed("a.zip", mailsInZips(5));
  EXPECT_TRUE(foundWithRoute(messages, "in.zip|incomplete-archive",
                             "a.zip > m.eml > in.zip > m.eml > in.zip > m.eml > in.zip > m.eml > in.zip"));
  EXPECT_FALSE(foundAnywhere(messages, "invoice.exe"));
  // A message below the deepest archive is named, marked and not read.
  std::string zip = zipOf({{"m.eml", mailWith("invoice.exe", exe)}});
  for (int level = 1; level < maxArchiveDepth; ++level) zip = zipOf({{"z.zip", zip}});
  const Found archives = listTimed("a.zip", zip);
  EXPECT_TRUE(foundAnywhere(archives, "m.eml|incomplete-message"));
  EXPECT_FALSE(foundAnywhere(archives, "invoice.exe"));
}

TEST_F(HostileReading, MessageCutShortIsReadAsFarAsItGoesAndMarked) {
  // The budget runs out inside the message (after the first blocks that
  // libarchive inflates at once): the part before is still read.
  const std::string mail = mailWith("invoice.exe", exe) + std::string(4000000, 'x');
  budget.decompressedBytesLeft = 1000000;
  const Found cut = listTimed("a.zip", zipOf({{"mail.eml", mail}}));
  EXPECT_TRUE(foundWithRoute(cut, "mail.eml|incomplete-message", "a.zip > mail.eml"));
  EXPECT_TRUE(foundWithRoute(cut, "invoice.exe", "a.zip > mail.eml > invoice.exe"));
  // An encrypted one cannot be read at all.
  const Found locked = listTimed(
      "b.zip", makeArchive(ArchiveFormat::Zip, {{"mail.eml", mail}}, test::ArchiveFilter::None, "secret"));
  EXPECT_TRUE(foundWithRoute(locked, "mail.eml|incomplete-message", "b.zip > mail.eml"));
}

// Not a hostile input but a large one (32 MiB inflated and read), so not timed.
TEST(CarriedMessage, LargerThanItsBoundIsReadAsFarAsTheBound) {
  std::string mail = mailWith("invoice.exe", exe);
  mail.resize(maxCarriedMessageBytes + 1, 'x');
  ExaminationBudget budget;
  const Found found = list("a.zip", zipOf({{"mail.eml", mail}}), budget);
  EXPECT_TRUE(foundWithRoute(found, "mail.eml|incomplete-message", "a.zip > mail.eml"));
  EXPECT_TRUE(foundAnywhere(found, "invoice.exe"));
}

// A message whose attachment sits inside `levels` nested multiparts.
std::string mailNested(int levels, const std::string& name, const std::string& bytes) {
  std::string head = "Subject: deep\n";
  std::string tail;
  for (int level = 0; level < levels; ++level) {
    const std::string boundary = "b" + std::to_string(level);
    head.append("Content-Type: multipart/mixed; boundary=").append(boundary).append("\n\n--");
    head.append(boundary).append("\n");
    tail.insert(0, "--" + boundary + "--\n");
  }
  return head + "Content-Type: application/octet-stream; name=\"" + name +
         "\"\nContent-Transfer-Encoding: base64\n\n" + test::base64Lines(bytes) + tail;
}

TEST_F(HostileReading, MultipartsNestedInCarriedMessagesStayWithinTheirBound) {
  // Messages in zips in messages, the innermost nesting its attachment
  // deeper than a carried message may.
  std::string zip = zipOf({{"m.eml", mailNested(maxCarriedPartDepth + 50, "invoice.exe", exe)}});
  for (int level = 1; level < 4; ++level)
    zip = zipOf({{"m.eml", mailNested(maxCarriedPartDepth - 10, "in.zip", zip)}});
  // Past the bound a multipart is read as a leaf, with the marker, and the
  // walk goes on flat: what lies deeper is still found, without recursion.
  const Found found = listTimed("a.zip", zip);
  const std::string innermost = "a.zip > m.eml > in.zip > m.eml > in.zip > m.eml > in.zip > m.eml > ";
  EXPECT_TRUE(
      foundWithRoute(found, "File99.tmp|incomplete-message", innermost + "File99.tmp|incomplete-message"));
  EXPECT_TRUE(foundWithRoute(found, "invoice.exe", innermost + "invoice.exe"));
}

TEST_F(HostileReading, ZipOfManyMessagesStaysWithinTheMemberBound) {
  std::vector<ArchiveMember> members(maxMembersPerMessage, ArchiveMember{"", mailWith("a.pdf", "%PDF")});
  for (std::size_t i = 0; i < members.size(); ++i) members[i].path = std::to_string(i) + ".eml";
  const Found found = listTimed("many.zip", zipOf(members));
  // Each message's names count as members: the bound is reached long before the last one.
  EXPECT_EQ(0u, budget.membersLeft);
  EXPECT_TRUE(foundWithRoute(found, "a.pdf", "many.zip > 0.eml > a.pdf"));
  EXPECT_FALSE(foundAnywhere(found, "9999.eml"));
  EXPECT_TRUE(marked(found, "many.zip"));
}

}  // namespace
}  // namespace zentry
