#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/rule.h"
#include "core/string.h"
#include "scanner/attachment_examination.h"
#include "scanner/body_capture.h"
#include "scanner/charset_conversion.h"
#include "scanner/examined_bodies.h"
#include "scanner/mime_parameters.h"
#include "scanner/structure_traits.h"

namespace zentry {

struct ScanContext;
class Workspace;
class Console;

/// What a strict-mode scan leaves beside the names.
struct StrictOutcome {
  /// The first exactNames names are exact mode's, in its order; the rest are
  /// those strict mode's reading adds.
  std::size_t exactNames = 0;
  /// Why the archive lister could not be started; empty when it could, or
  /// when no archive needed it. The names are then incomplete.
  std::string installationFault;
};

/// When strict mode also reads the message's structure as mail clients do
/// (client_structure_reading.h): when its walk noted a trait where the two
/// readings may part, or always (a check that the traits miss nothing).
enum class ClientReading { onTraits, always };

/// Strict mode's scan of the named file: every name exact mode finds, in its
/// order, then each further one strict mode's readings find, once. Wherever
/// the two readings part (a NUL cuts a line or is data, 0x1A ends the file
/// or is a byte, a name is trimmed or not, a name is generated or decoded)
/// both are taken, so strict mode never has fewer names than exact mode.
///
/// Most messages hold neither NUL nor 0x1A, and then one walk serves both:
/// strict mode's walk over the text exact mode reads, which records at each
/// point also the name exact mode records there. Its walk is exact mode's
/// (the walks differ only on a NUL in a line they are handed), so those
/// names are exact mode's. When the watched reading shows a NUL, exact
/// mode's own scan runs as well (untraced); when its text ends before the
/// file (at a 0x1A), strict mode walks the whole file again. When a walk
/// notes a structure trait, the clients' readings of the structure follow,
/// and their names are united with the rest. False when the file can't be
/// opened.
[[nodiscard]] bool scanInStrictMode(Workspace& workspace, const String& messageFileName, Console& console,
                                    AttachmentNames& names, StrictOutcome& outcome,
                                    ClientReading clientReading = ClientReading::onTraits);

/// What a run's scan keeps only in strict mode. A leaf's body and a uuencode
/// block inside it are gathered at the same time, so each has its own
/// capture; an embedded message is scanned as a message, not gathered, so
/// one leaf capture serves every level.
struct StrictScan {
  BodyCapture leafBody;
  BodyCapture uuencodedBody;
  /// The whole message's examination, shared by every walk of it.
  MessageExamination* examination = nullptr;
  /// The run's charset conversions, shared by every walk of the message.
  CharsetConverter* charsets = nullptr;
  ShownNames testedNames;  ///< a part's names as they are tested, reused from part to part
  /// The names exact mode records at the same points of the same walk, as
  /// it records them: exact mode's names whenever the walk is exact mode's.
  AttachmentNames exactFormNames;
  /// Name lists of parts that are done, lent to the next parts (one per
  /// part being read at once) so that a part costs no allocation for them.
  std::vector<ShownNames> spareShownNames;
  /// Set while a message an archive carries is read: what examining its
  /// attachments finds goes straight to the archive's sink, with the
  /// message's route before its own.
  ExaminationSink* carrierSink = nullptr;
  std::string carrierRoute;
  /// Whether the walk met a trait where clients read the structure
  /// otherwise.
  StructureTraits structureTraits;
  /// The bodies examined so far in this message, shared by its walks: a
  /// body a later walk finds again is not listed again.
  ExaminedBodies* examinedBodies = nullptr;
};

/// A name as strict mode tests it: Windows drops trailing dots and spaces
/// when it opens a file, so "invoice.exe. " is "invoice.exe". A name of only
/// dots and spaces stays as it is.
std::string withoutTrailingDotsAndSpaces(const std::string& name);
/// How many of a name's `size` bytes withoutTrailingDotsAndSpaces keeps.
std::size_t trimmedLength(const char* name, std::size_t size);

/// Strict mode's recording of one name that is already decoded: trimmed as
/// above and appended to the collected names.
void recordDecodedName(ScanContext& context, const std::string& name);

/// Strict mode's recording of a name as exact mode reads it (a uuencoded
/// file's): its encoded words decoded both as strict mode decodes them and
/// as exact mode does, each distinct result trimmed and recorded. Returns
/// the first name recorded.
std::string recordNameInStrictMode(ScanContext& context, const String& raw);

/// Records every distinct name a part shows: `shown` (from its parameters),
/// then `exactName` (what exact mode reads) decoded both ways when that is
/// another one. A generated name counts only when the part shows none.
/// When `nestingUnread` (the part nests parts past a depth bound) the first
/// name is recorded again with the incomplete-message marker. Then hands
/// the part's body, when there is one, to attachment examination under the
/// first name recorded. `shown` may be added to: it is the part's own list,
/// done with once the part is.
void recordPartInStrictMode(ScanContext& context, ShownNames& shown, const String& exactName,
                            bool exactNameGenerated, const BodyCapture* body, bool nestingUnread = false);

/// Hands a captured body to attachment examination; what it finds is
/// recorded, and its route traced.
void examineBody(ScanContext& context, const std::string& name, const BodyCapture& body);

}  // namespace zentry
