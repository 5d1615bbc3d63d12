#!/usr/bin/env python3
"""Times the message scan end to end: the real zentry binary on generated
messages, next to two floors measured in the same run on the same files:
reading the file (cat FILE > /dev/null) and counting its lines (the floor
program of bench/peers in lines mode: 64 KiB blocks and memchr). Peak
resident memory comes from /usr/bin/time -v.

    bench/scan_bench.py [--zentry BINARY] [--runs N] [--only NAME] [--keep DIR]

Without --zentry it builds a Release binary into build/scan-bench. Results go
to standard output as a Markdown table.
"""

import argparse
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

REPO = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
MB = 1 << 20
RULES = "Executable\n\n*.exe\n"


def base64_lines(size):
    line = ("TVqQAAMAAAAEAAAA//8AALgAAAAAAAAAQAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA"[:76] + "\r\n").encode()
    return line * max(1, size // len(line))


def headers(content_type):
    return (b"From: a@example.com\r\nTo: b@example.org\r\nSubject: bench\r\nMIME-Version: 1.0\r\n"
            b"Content-Type: " + content_type + b"\r\n\r\n")


def attachment_mail(size):
    return (headers(b'multipart/mixed; boundary="=_b"') + b"--=_b\r\nContent-Type: text/plain\r\n\r\nhello\r\n"
            b"--=_b\r\nContent-Type: application/octet-stream; name=\"a.exe\"\r\n"
            b"Content-Transfer-Encoding: base64\r\n\r\n" + base64_lines(size) + b"--=_b--\r\n")


def many_parts_mail(size, parts):
    body = base64_lines(size // parts)
    out = [headers(b'multipart/mixed; boundary="=_b"')]
    for i in range(parts):
        out.append(b"--=_b\r\nContent-Type: application/octet-stream; name=\"p%d.bin\"\r\n"
                   b"Content-Transfer-Encoding: base64\r\n\r\n" % i)
        out.append(body)
    out.append(b"--=_b--\r\n")
    return b"".join(out)


def nested_multipart(levels):
    out = []
    for level in range(levels):
        if level:
            out.append(b"--b%d\n" % (level - 1))
        out.append(b"Content-Type: multipart/mixed; boundary=b%d\n\n" % level)
    out.append(b"--b%d\n\ndeep\n" % (levels - 1))
    out.extend(b"--b%d--\n" % level for level in reversed(range(levels)))
    return b"".join(out)


def nested_messages(levels):
    out = []
    for level in range(levels):
        out.append(b"Content-Type: multipart/mixed; boundary=m%d\n\n--m%d\n"
                   b"Content-Type: message/rfc822; name=\"l%d.eml\"\n\n" % (level, level, level))
    out.append(b"Content-Type: text/plain\n\n" + b"x" * 100 + b"\n")
    out.extend(b"--m%d--\n" % level for level in reversed(range(levels)))
    return b"".join(out)


def continuation_field(size):
    filler = b"\n\tx-padding=\"0123456789012345678901234567890123456789\";"
    return (b"Content-Type: application/octet-stream;" + filler * (size // len(filler)) +
            b"\n\tname=\"huge.exe\"\n\nbody\n")


def workloads():
    mixed = b'Content-Type: multipart/mixed; boundary="A"\n\n'
    long_boundary = b"b" * 5000
    return [
        ("mail 1 MB", attachment_mail(1 * MB)),
        ("mail 16 MB", attachment_mail(16 * MB)),
        ("mail 64 MB", attachment_mail(64 * MB)),
        ("16 MB in 5000 parts", many_parts_mail(16 * MB, 5000)),
        ("empty file", None),
        ("1-byte file", b"X"),
        ("no header/body separator", b"Content-Type: text/plain\nX-A: 1\n"),
        ("headers only", b"Content-Type: text/plain; name=a.exe\n\n"),
        ("0x1A and NUL bytes", mixed + b"--A\n\n\0\0x\n\x1a--A\n"),
        ("lines of 9998-10000", mixed + b"--A\n\n" + b"".join(b"x" * n + b"\n" for n in (9998, 9999, 10000)) +
         b"--A--\n"),
        ("one line of 20 MB", mixed + b"--A\n\n" + b"x" * (20 * MB) + b"\n--A--\n"),
        ("8 MB field of continuations", continuation_field(8 * MB)),
        ("5000 sibling parts", mixed + b"--A\n\nsmall\n" * 5000 + b"--A--\n"),
        ("2000 nested multiparts", nested_multipart(2000)),
        ("30 nested messages", nested_messages(30)),
        ("empty boundary", b"Content-Type: multipart/mixed; boundary=\n\n--\n\nx\n----\n"),
        ("5000-byte boundary", b"Content-Type: multipart/mixed; boundary=" + long_boundary + b"\n\n--" +
         long_boundary + b"\n\nx\n--" + long_boundary + b"--\n"),
        ("delimiter as the last line", mixed + b"--A\n\nx\n--A\n"),
    ]


def build_zentry():
    build = os.path.join(REPO, "build", "scan-bench")
    subprocess.run(["cmake", "-S", REPO, "-B", build, "-G", "Ninja", "-DCMAKE_BUILD_TYPE=Release",
                    "-DZENTRY_TESTS=OFF", "-DZENTRY_BENCH=OFF"], check=True, stdout=subprocess.DEVNULL)
    subprocess.run(["ninja", "-C", build, "-j2", "zentry"], check=True, stdout=subprocess.DEVNULL)
    return os.path.join(build, "zentry")


LINE_COUNT_BLOCK = str(64 * 1024)


def build_linecount(work):
    """The line-count floor: bench/peers/floor.cc counting lines in 64 KiB blocks."""
    binary = os.path.join(work, "floor")
    subprocess.run(["c++", "-O2", "-o", binary, os.path.join(REPO, "bench", "peers", "floor.cc")], check=True)
    return binary


def timed(command, cwd, runs, shell=False):
    """Median wall time and median CPU time (user + system) in seconds. On a
    busy machine the wall time waits for the CPU; the CPU time does not."""
    walls, cpus = [], []
    for _ in range(runs + 1):  # the first run warms the page cache
        start = time.perf_counter()
        child = subprocess.Popen(command, cwd=cwd, shell=shell, stdout=subprocess.DEVNULL)
        _, _, usage = os.wait4(child.pid, 0)
        walls.append(time.perf_counter() - start)
        cpus.append(usage.ru_utime + usage.ru_stime)
    return statistics.median(walls[1:]), statistics.median(cpus[1:])


def peak_rss_kb(command, cwd):
    result = subprocess.run(["/usr/bin/time", "-v"] + command, cwd=cwd, stdout=subprocess.DEVNULL,
                            stderr=subprocess.PIPE, text=True, check=False)
    for line in result.stderr.splitlines():
        if "Maximum resident set size" in line:
            return int(line.split(":")[1])
    return -1


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--zentry", help="the binary to time (default: build a Release one)")
    parser.add_argument("--runs", type=int, default=5, help="timed runs per measurement (median)")
    parser.add_argument("--only", help="run only workloads whose name contains this text")
    parser.add_argument("--keep", help="write the workloads into this directory and keep them")
    args = parser.parse_args()

    zentry = os.path.abspath(args.zentry) if args.zentry else build_zentry()
    work = args.keep or tempfile.mkdtemp(prefix="zentry-scan-bench-")
    os.makedirs(work, exist_ok=True)
    linecount = build_linecount(work)
    print("Wall time (CPU time) in ms, medians of %d runs; load average %.1f at the start." % (
        args.runs, os.getloadavg()[0]))
    print()
    print("| workload | size | zentry | MB/s | peak RSS | cat | linecount | zentry / linecount |")
    print("|---|---:|---:|---:|---:|---:|---:|---:|")
    try:
        for name, message in workloads():
            if args.only and args.only not in name:
                continue
            directory = os.path.join(work, name.replace(" ", "_").replace("/", "_"))
            os.makedirs(directory, exist_ok=True)
            data = b"" if message is None else b"XXXX" + message
            if name == "1-byte file":
                data = message
            with open(os.path.join(directory, "routing.dat"), "wb") as file:
                file.write(data)
            with open(os.path.join(directory, "zentry.dat"), "w") as file:
                file.write(RULES)
            command = [zentry, "infected"]
            scan, scan_cpu = timed(command, directory, args.runs)
            rss = peak_rss_kb(command, directory)
            cat, cat_cpu = timed(["cat", "routing.dat"], directory, args.runs)
            lines, lines_cpu = timed([linecount, "lines", "routing.dat", LINE_COUNT_BLOCK], directory, args.runs)
            size = len(data) / MB
            print("| %s | %.2f MB | %.1f (%.1f) | %s | %.2f MB | %.1f (%.1f) | %.1f (%.1f) | %.2f (%s) |" % (
                name, size, scan * 1000, scan_cpu * 1000, "%.0f" % (size / scan) if size >= 1 else "-",
                rss / 1024, cat * 1000, cat_cpu * 1000, lines * 1000, lines_cpu * 1000, scan / lines,
                "%.2f" % (scan_cpu / lines_cpu) if lines_cpu > 0 else "-"))
            sys.stdout.flush()
    finally:
        if not args.keep:
            shutil.rmtree(work)


if __name__ == "__main__":
    main()
