#!/usr/bin/env python3
"""Writes the messages that bench/compare times, byte for byte the same on every run.

For each workload NAME it writes NAME.eml (the message as a mail server stores it,
CR LF line ends) and NAME.names (the attachment names a tool should report, one a
line, in message order). It also writes zentry.dat, the 50-rule file, whose masks
match none of those names, so every run tries every rule against every name.

Payload bytes come from SHAKE-256 keyed by the workload and the file name: random
enough that no tool can take a short cut, and stable across Python versions.
"""

import argparse
import base64
import binascii
import hashlib
import os
import sys

MB = 1024 * 1024

SUBJECT = "Quarterly report and meeting notes"

# Dangerous extensions a site would block; none of the generated names uses them.
BLOCKED_EXTENSIONS = [
    "exe", "scr", "pif", "com", "bat", "cmd", "vbs", "vbe", "js", "jse",
    "wsf", "wsh", "hta", "cpl", "msi", "msp", "lnk", "reg", "jar", "ps1",
    "psm1", "iso", "img", "vhd", "chm", "dll", "sys", "ocx", "inf", "gadget",
    "application", "msc", "scf", "url", "sct", "shb", "shs", "ws", "xll", "xlam",
    "docm", "xlsm", "pptm", "mde", "ade",
]
# Subject-only rules: they cost a subject test each and never hit the workloads' subject.
BLOCKED_SUBJECTS = ["*ILOVEYOU*", "*Kournikova*", "*Invoice overdue*", "*You have won*", "*Re: Details*"]

PROSE = (
    "Please find the figures for the last quarter below. Revenue grew in every region "
    "except the north, where two large orders moved into April. The meeting on Thursday "
    "starts at ten; bring your notes on the supplier review and the travel budget. "
)


def payload(seed, size):
    return hashlib.shake_256(seed.encode("ascii")).digest(size)


def crlf_lines(lines):
    return "".join(line + "\r\n" for line in lines).encode("ascii")


def base64_body(data):
    # encodebytes wraps at 76 characters, as mail agents do.
    return base64.encodebytes(data).replace(b"\n", b"\r\n")


def base64_size(raw):
    chars = 4 * ((raw + 2) // 3)
    return chars + 2 * ((chars + 75) // 76)


def raw_for_base64(encoded):
    """The largest raw size whose base64 body is at most `encoded` bytes."""
    raw = max(0, encoded * 3 * 76 // (4 * 78))
    while base64_size(raw + 1) <= encoded:
        raw += 1
    while raw > 0 and base64_size(raw) > encoded:
        raw -= 1
    return raw


def quoted_printable_prose(size):
    text = (PROSE * (size // len(PROSE) + 1))[:size]
    return binascii.b2a_qp(text.encode("ascii")).decode("ascii").split("\n")


def top_header(content_type, message_id):
    return [
        "Return-Path: <anna.berg@example.org>",
        "Received: from mail.example.org (mail.example.org [192.0.2.10])",
        "\tby mx.example.net with ESMTPS id 4F2A1C0031; Tue, 4 Mar 2025 09:12:44 +0100",
        "Received: from [198.51.100.7] by mail.example.org with ESMTPSA;",
        "\tTue, 4 Mar 2025 09:12:41 +0100",
        "From: Anna Berg <anna.berg@example.org>",
        "To: Team <team@example.net>",
        "Subject: " + SUBJECT,
        "Date: Tue, 4 Mar 2025 09:12:40 +0100",
        "Message-ID: <%s@example.org>" % message_id,
        "MIME-Version: 1.0",
        "Content-Type: " + content_type,
        "",
    ]


def attachment(boundary, name, content_type, data):
    head = crlf_lines([
        "--" + boundary,
        'Content-Type: %s; name="%s"' % (content_type, name),
        'Content-Disposition: attachment; filename="%s"' % name,
        "Content-Transfer-Encoding: base64",
        "",
    ])
    return head + base64_body(data)


def text_part(boundary, size):
    return crlf_lines([
        "--" + boundary,
        "Content-Type: text/plain; charset=utf-8",
        "Content-Transfer-Encoding: quoted-printable",
        "",
    ] + quoted_printable_prose(size))


def everyday_message():
    """About 5 KB: text and HTML alternatives and one small PDF, like most office mail."""
    outer, alt = "----=_Part_1_outer", "----=_Part_2_alt"
    html = "<html><body><p>" + PROSE * 6 + "</p></body></html>"
    head = crlf_lines(top_header('multipart/mixed; boundary="%s"' % outer, "20250304091240.4F2A1") + [
        "This is a multi-part message in MIME format.",
        "",
        "--" + outer,
        'Content-Type: multipart/alternative; boundary="%s"' % alt,
        "",
    ]) + text_part(alt, 900) + crlf_lines([
        "--" + alt,
        "Content-Type: text/html; charset=utf-8",
        "Content-Transfer-Encoding: quoted-printable",
        "",
    ] + binascii.b2a_qp(html.encode("ascii")).decode("ascii").split("\n") + ["--" + alt + "--", ""])
    name = "quarterly-report.pdf"
    tail = crlf_lines(["--" + outer + "--"])
    part_head = len(attachment(outer, name, "application/pdf", b""))
    raw = raw_for_base64(5 * 1024 - len(head) - len(tail) - part_head)
    return head + attachment(outer, name, "application/pdf", payload("everyday/" + name, raw)) + tail, [name]


def attachments_message(workload, total, names):
    """A short text and base64 attachments that fill the message up to `total` bytes."""
    boundary = "----=_Part_%s" % workload
    head = crlf_lines(top_header('multipart/mixed; boundary="%s"' % boundary, workload) + [
        "This is a multi-part message in MIME format.",
        "",
    ]) + text_part(boundary, 600)
    tail = crlf_lines(["--" + boundary + "--"])
    overhead = len(head) + len(tail) + sum(len(attachment(boundary, n, "application/octet-stream", b""))
                                           for n in names)
    share = (total - overhead) // len(names)
    parts = [attachment(boundary, n, "application/octet-stream", payload(workload + "/" + n, raw_for_base64(share)))
             for n in names]
    return head + b"".join(parts) + tail, list(names)


def uuencode_block(name, data):
    lines = ["begin 644 " + name]
    for start in range(0, len(data), 45):
        lines.append(binascii.b2a_uu(data[start:start + 45], backtick=True).decode("ascii").rstrip("\n"))
    lines += ["`", "end"]
    return crlf_lines(lines)


def uuencode_message(workload, total, names):
    """One plain-text body, prose with uuencoded files in it, as old clients send them."""
    head = crlf_lines(top_header("text/plain; charset=us-ascii", workload))
    prose = crlf_lines([PROSE.strip()] * 8 + [""])
    block_overhead = len(uuencode_block(names[0], b""))
    share = (total - len(head) - len(prose) * (len(names) + 1)) // len(names) - block_overhead
    raw = share * 45 // 63  # 45 bytes make a 61-character line plus CR LF
    body = b"".join(prose + uuencode_block(n, payload(workload + "/" + n, raw)) for n in names)
    return head + body + prose, list(names)


def numbered(pattern, count):
    return [pattern % (i + 1) for i in range(count)]


BIG_NAMES = ["archive-%02d.zip", "scan-%02d.pdf", "photos-%02d.tar", "backup-%02d.7z"]


def big_names(count):
    return [BIG_NAMES[i % len(BIG_NAMES)] % (i + 1) for i in range(count)]


# name -> (maker, description); makers return (message bytes, expected names).
WORKLOADS = {
    "everyday-5k": (everyday_message, "5 KB everyday message"),
    "mime-1m": (lambda: attachments_message("mime-1m", 1 * MB, big_names(1)), "1 MB, base64 attachment"),
    "mime-16m": (lambda: attachments_message("mime-16m", 16 * MB, big_names(4)), "16 MB, base64 attachments"),
    "mime-64m": (lambda: attachments_message("mime-64m", 64 * MB, big_names(4)), "64 MB, base64 attachments"),
    "parts-16m": (lambda: attachments_message("parts-16m", 16 * MB, numbered("part-%04d.dat", 5000)),
                  "16 MB, 5000 small parts"),
    "uuencode-16m": (lambda: uuencode_message("uuencode-16m", 16 * MB, numbered("drawing-%02d.dwg", 16)),
                     "16 MB text, uuencoded files"),
}


def rule_file():
    lines = []
    for index, extension in enumerate(BLOCKED_EXTENSIONS):
        lines += ["Blocked attachment %d (.%s)" % (index + 1, extension), "", "*." + extension]
    for index, mask in enumerate(BLOCKED_SUBJECTS):
        lines += ["Blocked subject %d" % (index + 1), mask, ""]
    return crlf_lines(lines)


def write_if_changed(path, data):
    try:
        with open(path, "rb") as existing:
            if existing.read() == data:
                return
    except OSError:
        pass
    with open(path + ".tmp", "wb") as out:
        out.write(data)
    os.replace(path + ".tmp", path)


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("directory")
    parser.add_argument("--only", action="append", choices=sorted(WORKLOADS), help="workload to write")
    args = parser.parse_args(argv)
    os.makedirs(args.directory, exist_ok=True)
    write_if_changed(os.path.join(args.directory, "zentry.dat"), rule_file())
    for name in args.only or WORKLOADS:
        message, names = WORKLOADS[name][0]()
        write_if_changed(os.path.join(args.directory, name + ".eml"), message)
        write_if_changed(os.path.join(args.directory, name + ".names"), "".join(n + "\n" for n in names).encode())
        print("%-13s %10d bytes  %5d names  sha256 %s" % (name, len(message), len(names),
                                                          hashlib.sha256(message).hexdigest()[:16]))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
