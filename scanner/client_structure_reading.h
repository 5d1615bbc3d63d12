#pragma once

#include "core/rule.h"
#include "core/string.h"
#include "platform/console.h"
#include "platform/workspace.h"

namespace zentry {

struct StrictScan;

/// Readings of the structure past which no more are made.
constexpr int maxClientReadings = 12;
/// Candidates of one decision (Content-Type fields of a part, boundary
/// parameters of a field, transfer-encoding fields) that the readings
/// follow: the first five, then the last. A part offering more is marked.
constexpr int followedCandidates = 6;
/// Multiparts open at once in a client reading; a deeper one is read as a
/// leaf and marked, as exact mode does past its own bound.
constexpr int maxClientOpenMultiparts = 100;
/// Bytes of one header block kept; past them the fields are not read and
/// the part is marked.
constexpr std::size_t maxClientHeaderBlockBytes = std::size_t{1} << 20;

/// Reads the message's structure the way mail clients do, where that parts
/// from exact mode's walk:
///   - a delimiter line may carry blanks and tabs after the boundary (and
///     after the closing "--"), and one of any enclosing multipart ends the
///     parts inside it, a header block included: an inner multipart left
///     open does not hide the rest;
///   - in a multipart/digest a part without Content-Type is a message;
///   - a boundary value is quoted only by double quotes, a backslash in
///     them taking the next byte;
///   - blanks before the colon of Content-Type and Content-Transfer-Encoding,
///     and blanks after a transfer-encoding value, are allowed; x-uue and
///     uue are uuencoded bodies as x-uuencode is;
///   - a header line longer than the line reader's limit is read whole;
///   - where a part gives two Content-Type or transfer-encoding fields, or a
///     field two boundaries, each reading follows one choice: the first
///     everywhere, the last everywhere, every mix of first and last, then
///     the second to fifth candidates, as far as they make a difference, at most
///     maxClientReadings readings.
/// Each part a reading finds is recorded as strict mode records a part (its
/// names, its body examined; strict->examination and the record of bodies
/// already examined are shared with the other walks): names into `names`,
/// exact mode's forms into strict->exactFormNames. The file is read whole
/// (a 0x1A is data). False when it can't be opened.
[[nodiscard]] bool readAsClientsDo(Workspace& workspace, const String& messageFileName, Console& console,
                                   AttachmentNames& names, StrictScan& strict);

}  // namespace zentry
