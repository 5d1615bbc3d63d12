#!/usr/bin/env python3
"""Peak resident memory of zentry-host for one message piped in on standard
input, at several message sizes. The message is generated on the fly (never
stored): a header, a base64 part that makes up the size, then an attachment
named invoice.pif, so the verdict needs the whole message scanned. The figure
is the larger of zentry-host's own peak and the filter's, as /usr/bin/time
reports it (the kernel's maximum resident set over the process and the
children it waited for; measured through time(1) because a child forked from
Python would count Python's own pages).

    bench/host_memory.py [--host BINARY] [SIZE_MB ...]     (default 1 100 1024)

A second table replays mboxes of 10 such messages of 1 MB and of 100 MB,
piped in too, two jobs at a time.

Each size is run once; the verdict (exit code 1 with --errorlevel, the rule's
label on standard output) is checked, so a wrong answer is never reported as
a figure. Results go to standard output as a Markdown table.
"""

import argparse
import os
import subprocess
import sys
import tempfile
import time

REPO = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
MB = 1 << 20
RULES = b"Executable\n\n*.pif\n"
LINE = b"TVqQAAMAAAAEAAAA//8AALgAAAAAAAAAQAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA\r\n"
BLOCK = LINE * (MB // len(LINE))


def message_chunks(size, subject=b"Your invoice"):
    """The message in pieces of about 1 MB; about `size` bytes in all."""
    yield (b"From sender@example.com Mon Jan  1 10:00:00 2024\n"
           b"From: a@example.com\r\nSubject: " + subject + b"\r\nMIME-Version: 1.0\r\n"
           b"Content-Type: multipart/mixed; boundary=\"=_b\"\r\n\r\n"
           b"--=_b\r\nContent-Type: application/octet-stream; name=\"data.bin\"\r\n"
           b"Content-Transfer-Encoding: base64\r\n\r\n")
    sent = 0
    while sent + len(BLOCK) <= size:
        yield BLOCK
        sent += len(BLOCK)
    yield (b"--=_b\r\nContent-Type: application/octet-stream\r\n"
           b"Content-Disposition: attachment; filename=\"invoice.pif\"\r\n\r\nMZ\r\n--=_b--\r\n")


def piped_run(command, chunks, rules_text, stderr=None):
    """Runs command(rules file holding `rules_text`) under /usr/bin/time,
    piping `chunks` to it; returns (exit code, standard output, peak RSS in
    KiB, seconds)."""
    with tempfile.TemporaryDirectory() as scratch:
        rules = os.path.join(scratch, "rules.dat")
        with open(rules, "wb") as f:
            f.write(rules_text)
        peak = os.path.join(scratch, "peak")
        start = time.monotonic()
        child = subprocess.Popen(["/usr/bin/time", "-f", "%M", "-o", peak] + command(rules),
                                 stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=stderr,
                                 env=dict(os.environ, TMPDIR=scratch))
        for chunk in chunks:
            child.stdin.write(chunk)
        child.stdin.close()
        output = child.stdout.read()
        child.wait()
        seconds = time.monotonic() - start
        with open(peak) as f:
            return child.returncode, output, int(f.read().split()[-1]), seconds


def run_host(host, size, subject=b"Your invoice", rules_text=RULES):
    """Pipes one generated message through zentry-host; returns (exit code,
    standard output, peak RSS in KiB, seconds)."""
    return piped_run(lambda rules: [host, "--errorlevel", "-", rules, "quarantine"], message_chunks(size, subject),
                     rules_text)


def run_replay(host, count, size):
    """Pipes an mbox of `count` generated messages through zentry-host
    --replay (from /dev/stdin); returns (exit code, report, peak RSS in KiB,
    seconds)."""
    def mbox():
        for _ in range(count):
            yield from message_chunks(size)
            yield b"\n"
    return piped_run(lambda rules: [host, "--replay", "--no-progress", "-j", "2", "/dev/stdin", rules], mbox(),
                     RULES, stderr=subprocess.DEVNULL)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--host", default=os.path.join(REPO, "build", "dev", "zentry-host"))
    parser.add_argument("sizes", nargs="*", type=int, default=[1, 100, 1024], help="message sizes in MB")
    args = parser.parse_args()
    print("| message | peak resident memory | wall time |")
    print("|---:|---:|---:|")
    for size in args.sizes:
        code, output, peak, seconds = run_host(args.host, size * MB)
        if code != 1 or b"Subject: Infected (Executable) - Your invoice\r\n" not in output:
            sys.exit(f"wrong verdict for {size} MB: exit {code}, output {output!r}")
        print(f"| {size} MB | {peak / 1024:.1f} MB | {seconds:.1f} s |", flush=True)
    print()
    print("| replayed mbox (from a pipe) | peak resident memory | wall time |")
    print("|---:|---:|---:|")
    for count, size in ((10, 1), (10, 100)):
        code, report, peak, seconds = run_replay(args.host, count, size * MB)
        if code != 0 or f"{count} messages: {count} hit".encode() not in report:
            sys.exit(f"wrong replay report for {count} x {size} MB: exit {code}, {report[-300:]!r}")
        print(f"| {count} x {size} MB | {peak / 1024:.1f} MB | {seconds:.1f} s |", flush=True)


if __name__ == "__main__":
    main()
