#!/usr/bin/env python3
"""Times whole zentry processes, as the mail server starts them: the 5 KB
everyday message in exact and strict mode next to a trivial static C++
program (bench/peers/trivial.cc), and a message with a 10 MB zip of 1,000
members (base64) in strict mode next to `bsdtar -tf` on the decoded zip,
and the archive lister alone, started once per archive as strict mode starts
it, on a one-member zip and on the 10 MB zip. All in one run, interleaved in rounds so a load that comes and goes touches
every program alike; bench/peers/measure spawns and times each run.

    bench/process_bench.py [--bin DIR] [--base ZENTRY] [--rounds N] [--runs N] [--lister-only]

--bin is a build directory holding zentry and zentry-archive (default: build
a Release one into build/process-bench); --base adds a second zentry binary
(an older build, its zentry-archive beside it) to every table; --lister-only
times the lister alone. Medians of each round, then the median of
the rounds; wall time and CPU time (user + system) in microseconds.
"""

import argparse
import base64
import json
import os
import shutil
import statistics
import subprocess
import sys
import tempfile

BENCH = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(BENCH)
sys.path.insert(0, BENCH)
import archive_bench  # noqa: E402  (lives beside this script)
import gen_workloads  # noqa: E402


def build(directory):
    subprocess.run(["cmake", "-S", REPO, "-B", directory, "-DCMAKE_BUILD_TYPE=Release", "-DZENTRY_TESTS=OFF",
                    "-DZENTRY_BENCH=OFF"], check=True, stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", directory, "-j2", "--target", "zentry", "zentry-archive"], check=True,
                   stdout=subprocess.DEVNULL)
    return directory


def helpers(work):
    paths = {}
    for name, source, linking in (("measure", "measure", ["-static"]), ("trivial", "trivial", ["-static"]),
                                  ("trivial-dynamic", "trivial", [])):
        paths[name] = os.path.join(work, name)
        subprocess.run(["g++", "-std=c++17", "-O2"] + linking + ["-o", paths[name],
                        os.path.join(BENCH, "peers", source + ".cc")], check=True)
    return paths


def zip_message(zip_data):
    boundary = "----=_Part_zip"
    head = gen_workloads.crlf_lines(gen_workloads.top_header(
        'multipart/mixed; boundary="%s"' % boundary, "zip") + ["", ""])
    tail = gen_workloads.crlf_lines(["--" + boundary + "--"])
    return head + gen_workloads.attachment(boundary, "attachment.zip", "application/zip", zip_data) + tail


def run_directory(work, name, message):
    directory = os.path.join(work, name)
    os.makedirs(directory)
    with open(os.path.join(directory, "routing.dat"), "wb") as routing:
        routing.write(b"XXXX" + message)  # the host's four bytes, then the message
    with open(os.path.join(directory, "zentry.dat"), "wb") as rules:
        rules.write(gen_workloads.rule_file())
    return directory


def measure(paths, command, cwd, runs, stdin=None):
    argv = [paths["measure"], "--warmup", "2", "--min-runs", str(runs), "--max-runs", str(runs), "--budget",
            "600"]
    if cwd:
        argv += ["--cwd", cwd, "--env", "subject=" + gen_workloads.SUBJECT]
    if stdin:
        argv += ["--stdin", stdin]
    result = subprocess.run(argv + ["--"] + command, check=True, capture_output=True, text=True)
    return json.loads(result.stdout)


def rounds(paths, rows, count, runs):
    """rows: label -> (command, cwd[, stdin]). Returns label -> (wall us, cpu us, peak RSS kB, status)."""
    samples = {label: [] for label in rows}
    for _ in range(count):
        for label, (command, cwd, *stdin) in rows.items():
            samples[label].append(measure(paths, command, cwd, runs, *stdin))
    return {label: (statistics.median(s["median_us"] for s in got),
                    statistics.median(s["median_cpu_us"] for s in got),
                    max(s["peak_rss_kb"] for s in got), got[0]["status"])
            for label, got in samples.items()}


def table(results, floor):
    print("| program | wall (us) | x floor | CPU (us) | x floor | peak RSS | exit |")
    print("|---|---:|---:|---:|---:|---:|---:|")
    wall0, cpu0 = results[floor][0], results[floor][1]
    for label, (wall, cpu, rss, status) in results.items():
        print("| %s | %.0f | %.2f | %.0f | %s | %.1f MB | %d |" % (
            label, wall, wall / wall0, cpu, "%.2f" % (cpu / cpu0) if cpu0 else "-", rss / 1024, status))
    print()


def lister_table(paths, work, directory, base, args):
    """The lister alone, as strict mode starts it for one archive attachment
    (the attachment as a file on its standard input, which it maps)."""
    tiny = os.path.join(work, "tiny.zip")
    with open(tiny, "wb") as file:
        file.write(archive_bench.zip_bytes([("invoice.pdf", b"%PDF-1.4 one page\n")]))
    large = os.path.join(work, "lister.zip")
    with open(large, "wb") as file:
        file.write(archive_bench.thousand_members())
    # NAME TRUNCATED MEMBERS-LEFT BYTES-LEFT, with the bounds of a fresh message.
    arguments = ["attachment.zip", "0", "10000", str(64 << 20)]
    listers = {"zentry-archive": os.path.join(directory, "zentry-archive")}
    if base:
        listers["base zentry-archive"] = os.path.join(os.path.dirname(os.path.abspath(base)), "zentry-archive")
    rows = {"trivial C++, static": ([paths["trivial"]], None),
            "trivial C++, dynamic": ([paths["trivial-dynamic"]], None)}
    for label, lister in listers.items():
        rows[label + ", one-member zip"] = ([lister] + arguments, None, tiny)
    print("The lister alone, one-member zip, %d rounds of %d runs; load average %.1f." % (
        args.rounds, args.runs, os.getloadavg()[0]))
    print()
    table(rounds(paths, rows, args.rounds, args.runs), "trivial C++, static")
    rows = {"bsdtar -tf": (["bsdtar", "-tf", large], None)}
    for label, lister in listers.items():
        rows[label + ", 10 MB zip"] = ([lister] + arguments, None, large)
    print("The lister alone, 10 MB zip of 1,000 members, %d rounds of 5 runs; load average %.1f." % (
        args.rounds, os.getloadavg()[0]))
    print()
    table(rounds(paths, rows, args.rounds, 5), "bsdtar -tf")
    sys.stdout.flush()


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--bin", help="build directory with zentry and zentry-archive")
    parser.add_argument("--base", help="another zentry binary to time on the 5 KB message")
    parser.add_argument("--rounds", type=int, default=5)
    parser.add_argument("--runs", type=int, default=100, help="runs per program per round (small inputs)")
    parser.add_argument("--lister-only", action="store_true", help="time only the archive lister alone")
    args = parser.parse_args()
    directory = os.path.abspath(args.bin) if args.bin else build(os.path.join(REPO, "build", "process-bench"))
    zentry = os.path.join(directory, "zentry")
    work = tempfile.mkdtemp(prefix="zentry-process-bench-")
    try:
        paths = helpers(work)
        lister_table(paths, work, directory, args.base, args)
        if args.lister_only:
            return
        everyday, _ = gen_workloads.everyday_message()
        small = run_directory(work, "everyday", everyday)
        rows = {"trivial C++, static": ([paths["trivial"]], None),
                "zentry, exact": ([zentry, "infected"], small),
                "zentry strict": ([zentry, "infected", "strict"], small)}
        if args.base:
            rows["base zentry, exact"] = ([os.path.abspath(args.base), "infected"], small)
        print("5 KB message, %d rounds of %d runs; load average %.1f at the start." % (
            args.rounds, args.runs, os.getloadavg()[0]))
        print()
        table(rounds(paths, rows, args.rounds, args.runs), "trivial C++, static")
        sys.stdout.flush()

        zip_data = archive_bench.thousand_members()
        zip_path = os.path.join(work, "attachment.zip")
        with open(zip_path, "wb") as file:
            file.write(zip_data)
        encoded_path = os.path.join(work, "attachment.b64")
        with open(encoded_path, "wb") as file:
            file.write(base64.encodebytes(zip_data))
        large = run_directory(work, "zip", zip_message(zip_data))
        # The same work by standard tools: decode the attachment, then list it.
        decode_then_list = "base64 -d '%s' > '%s/decoded.zip' && bsdtar -tf '%s/decoded.zip'" % (
            encoded_path, work, work)
        rows = {"bsdtar -tf (decoded zip)": (["bsdtar", "-tf", zip_path], None),
                "zentry strict (10 MB zip, base64)": ([zentry, "infected", "strict"], large),
                "zentry, exact (same message)": ([zentry, "infected"], large),
                "base64 -d, then bsdtar -tf": (["/bin/sh", "-c", decode_then_list], None)}
        if args.base:
            rows["base zentry strict"] = ([os.path.abspath(args.base), "infected", "strict"], large)
        print("10 MB zip of 1,000 members, %d rounds of 5 runs; load average %.1f." % (
            args.rounds, os.getloadavg()[0]))
        print()
        table(rounds(paths, rows, args.rounds, 5), "bsdtar -tf (decoded zip)")
    finally:
        shutil.rmtree(work)


if __name__ == "__main__":
    main()
