#pragma once

#include <cstddef>
#include <string>

#include "scanner/attachment_examination.h"

namespace zentry {

// A mail message that an archive carries (a forwarded `.eml` saved into a
// zip) opens in a mail client as mail, its attachments shown as such. Strict
// mode reads it the same way, so a file cannot hide behind one more layer.

/// Most bytes of a carried message that are read as mail, the same as one
/// attachment's decoded bytes; a longer one is read as far as this and
/// marked.
constexpr std::size_t maxCarriedMessageBytes = std::size_t{32} << 20;

/// Multiparts that may nest inside a carried message before the rest is
/// read as a leaf (with the incomplete-message marker). Less than a
/// message's own bound: carried messages nest inside each other, each scan
/// with its own frames, and together they must fit the lister's stack.
constexpr int maxCarriedPartDepth = 100;
/// Embedded messages that may nest inside a carried message, for the same reason.
constexpr int maxCarriedMessageFrames = 4;

/// Whether a file named `name` whose first bytes are [data, data + size) is
/// a mail message: named `*.eml`, or opening with a header block (only
/// header field lines up to the first empty line or the end of the bytes
/// given) that holds at least one field every message has or MIME adds.
bool looksLikeMailMessage(const std::string& name, const unsigned char* data, std::size_t size);

/// Reads [data, data + size) as a mail message in strict mode, the whole
/// bytes as text: every name it shows, its archives listed through
/// `examination` (its listing session and budget). Each name goes to `sink`
/// once, with `route` (the message's own route) before its own route in the
/// message; a name keeps its last maxMemberNameBytes bytes. Each name the
/// message itself shows counts as one member of the budget; false when the
/// budget ran out before every name was reported. Never fails otherwise.
[[nodiscard]] bool scanCarriedMessage(const unsigned char* data, std::size_t size, const std::string& route,
                                      MessageExamination& examination, ExaminationSink& sink);

}  // namespace zentry
