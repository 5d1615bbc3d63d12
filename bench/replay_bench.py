#!/usr/bin/env python3
"""zentry-host --replay over a large mbox: in process (the default) and with
--isolate (one filter process per message), exact and strict mode, one and
two jobs. A benchmark, run by hand:

    bench/replay_bench.py [--bin DIR] [--messages 20000] [--sizes 20000,80000] [--keep DIR]

The mailbox is made from the benchmarks' own everyday workload
(gen_workloads.py): of every 20 messages, 10 are short text mails, 7 the
5 KB office message (text, HTML and a small PDF), 2 carry a blocked
attachment and 1 a zip holding a program, which strict mode lists with
zentry-archive. Bytes are the same on every run.

For each run: messages per second (wall time), CPU per message (user +
system of zentry-host and every process it waited for, from /usr/bin/time),
and peak resident memory (the largest of zentry-host and its children). The
machine may be shared, so the CPU figures are the steadier ones. The
reports of the in-process and the isolated runs are compared: a figure is
printed only when both report the same rows. A last table replays two
mailbox sizes in process to show the memory does not grow with the mailbox.
"""

import argparse
import base64
import io
import os
import subprocess
import sys
import tempfile
import time
import zipfile

BENCH = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(BENCH)
sys.path.insert(0, BENCH)
import gen_workloads  # noqa: E402  (lives beside this script)

RULES = (b"Program information file\n\n*.pif\nScreen saver\n\n*.scr\nExecutable\n\n*.exe\n"
         b"Love letter\nILOVEYOU*\n\n")


def build(directory):
    subprocess.run(["cmake", "-S", REPO, "-B", directory, "-G", "Ninja", "-DCMAKE_BUILD_TYPE=Release",
                    "-DZENTRY_TESTS=OFF", "-DZENTRY_BENCH=OFF"], check=True, stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", directory, "-j2", "--target", "zentry", "zentry-host", "zentry-archive"],
                   check=True, stdout=subprocess.DEVNULL)
    return directory


def header(number, subject, content_type):
    return gen_workloads.crlf_lines([
        f"From: sender{number % 97}@example.com", "To: team@example.com", f"Subject: {subject}",
        "Date: Tue, 4 Mar 2025 09:12:40 +0100", f"Message-ID: <replay-{number}@example.com>",
        "MIME-Version: 1.0", f"Content-Type: {content_type}", ""])


def with_attachment(number, name, content_type, data):
    boundary = f"----=_Part_{number}"
    return (header(number, f"Files for you ({number})", f'multipart/mixed; boundary="{boundary}"')
            + gen_workloads.text_part(boundary, 600)
            + gen_workloads.attachment(boundary, name, content_type, data)
            + gen_workloads.crlf_lines(["--" + boundary + "--"]))


def zipped_program(number):
    buffer = io.BytesIO()
    with zipfile.ZipFile(buffer, "w", zipfile.ZIP_DEFLATED) as archive:
        archive.writestr(zipfile.ZipInfo("docs/readme.txt", (2025, 3, 4, 9, 12, 40)), "read me\n" * 20)
        archive.writestr(zipfile.ZipInfo(f"docs/setup{number}.exe", (2025, 3, 4, 9, 12, 40)),
                         b"MZ" + gen_workloads.payload(f"replay/{number}", 2000))
    return buffer.getvalue()


def message(number, everyday):
    kind = number % 20
    if kind < 10:
        prose = gen_workloads.quoted_printable_prose(800 + (number * 37) % 1500)
        return header(number, f"Meeting notes {number}", "text/plain; charset=utf-8") + \
            gen_workloads.crlf_lines(prose)
    if kind < 17:
        return everyday
    if kind < 19:
        name = "update.pif" if kind == 17 else "screensaver.scr"
        return with_attachment(number, name, "application/octet-stream", b"MZ" + gen_workloads.payload(
            f"replay/{number}", 3000))
    return with_attachment(number, "files.zip", "application/zip", zipped_program(number))


def write_mbox(path, count):
    everyday, _ = gen_workloads.everyday_message()
    with open(path, "wb") as out:
        for number in range(count):
            out.write(b"From sender@example.com Tue Mar  4 09:12:40 2025\n")
            out.write(message(number, everyday).replace(b"\r\n", b"\n"))
            out.write(b"\n")
    return os.path.getsize(path)


def replay(host, mbox, rules, jobs, strict, isolate, report):
    """One run under /usr/bin/time; returns (seconds, CPU seconds, peak KiB, stderr)."""
    command = [host, "--replay", "--no-progress", "--format", "csv", "-j", str(jobs)]
    command += ["--strict"] * strict + ["--isolate"] * isolate + [mbox, rules]
    with tempfile.NamedTemporaryFile() as timing, open(report, "wb") as out:
        start = time.monotonic()
        done = subprocess.run(["/usr/bin/time", "-f", "%U %S %M", "-o", timing.name] + command, stdout=out,
                              stderr=subprocess.PIPE)
        seconds = time.monotonic() - start
        user, system, peak = open(timing.name).read().split()[-3:]
    if done.returncode not in (0, 1):
        sys.exit(f"replay failed ({done.returncode}): {done.stderr.decode(errors='replace')[-500:]}")
    return seconds, float(user) + float(system), int(peak), done.stderr.decode(errors="replace")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--bin", help="build directory holding zentry, zentry-host and zentry-archive "
                        "(default: build a Release one into build/replay-bench)")
    parser.add_argument("--messages", type=int, default=20000)
    parser.add_argument("--sizes", default="20000,80000", help="mailbox sizes for the memory table")
    parser.add_argument("--keep", help="write the mailboxes and reports into this directory and keep them")
    args = parser.parse_args()
    bin_dir = args.bin or build(os.path.join(REPO, "build", "replay-bench"))
    host = os.path.join(bin_dir, "zentry-host")
    work = args.keep or tempfile.mkdtemp(prefix="replay-bench.")
    os.makedirs(work, exist_ok=True)
    rules = os.path.join(work, "rules.dat")
    with open(rules, "wb") as f:
        f.write(RULES)
    mbox = os.path.join(work, "replay.mbox")
    size = write_mbox(mbox, args.messages)
    print(f"{args.messages} messages, {size / 1e6:.1f} MB\n")
    print("| mode | run | jobs | messages/s | CPU per message | peak memory |")
    print("|---|---|---:|---:|---:|---:|")
    rows = {}
    for strict in (False, True):
        for jobs in (1, 2):
            reports = []
            for isolate in (False, True):
                report = os.path.join(work, f"report-{int(strict)}-{jobs}-{int(isolate)}.csv")
                seconds, cpu, peak, _ = replay(host, mbox, rules, jobs, strict, isolate, report)
                reports.append(open(report, "rb").read())
                rows[(strict, jobs, isolate)] = (args.messages / seconds, cpu / args.messages * 1000, peak)
            if reports[0] != reports[1]:
                sys.exit(f"the reports differ ({'strict' if strict else 'exact'}, -j {jobs})")
            for isolate in (False, True):
                rate, cpu, peak = rows[(strict, jobs, isolate)]
                print(f"| {'strict' if strict else 'exact'} | {'--isolate' if isolate else 'in process'} | {jobs} "
                      f"| {rate:,.0f} | {cpu:.3f} ms | {peak / 1024:.1f} MB |", flush=True)
    print()
    print("| mode, jobs | in process vs --isolate: messages/s | CPU per message |")
    print("|---|---:|---:|")
    for strict in (False, True):
        for jobs in (1, 2):
            fast, slow = rows[(strict, jobs, False)], rows[(strict, jobs, True)]
            print(f"| {'strict' if strict else 'exact'}, -j {jobs} | {fast[0] / slow[0]:.1f}x "
                  f"| {slow[1] / fast[1]:.1f}x |")
    print()
    print("| mailbox (in process, exact, -j 2) | size | messages/s | peak memory |")
    print("|---:|---:|---:|---:|")
    for count in (int(n) for n in args.sizes.split(",")):
        sized = os.path.join(work, f"replay-{count}.mbox")
        megabytes = write_mbox(sized, count) / 1e6
        seconds, _, peak, _ = replay(host, sized, rules, 2, False, False, os.path.join(work, f"report-{count}.csv"))
        print(f"| {count:,} messages | {megabytes:.0f} MB | {count / seconds:,.0f} | {peak / 1024:.1f} MB |",
              flush=True)
        if not args.keep:
            os.remove(sized)
    if not args.keep:
        subprocess.run(["rm", "-rf", work])


if __name__ == "__main__":
    main()
