#!/usr/bin/env python3
"""Times strict mode's archive listing on its own: bench/peers/examine_file
(one process that reads a file and hands it to examineAttachment, as the walker
hands over a decoded attachment) next to `bsdtar -tf` on the same file, in the
same run, plus the hostile archives the bounds are for. Peak resident memory
comes from /usr/bin/time -v.

    bench/archive_bench.py [--examine BINARY] [--runs N] [--only NAME] [--keep DIR]

Without --examine it builds a Release examine_file into build/archive-bench.
Results go to standard output as a Markdown table.
"""

import argparse
import gzip
import io
import os
import random
import shutil
import struct
import subprocess
import sys
import tarfile
import tempfile
import zipfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from scan_bench import peak_rss_kb, timed  # noqa: E402  (lives beside this script)

REPO = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
MB = 1 << 20


def zip_bytes(members, method=zipfile.ZIP_DEFLATED):
    out = io.BytesIO()
    with zipfile.ZipFile(out, "w", method) as archive:
        for name, data in members:
            archive.writestr(name, data)
    return out.getvalue()


def thousand_members():
    """About 10 MB: 1,000 members of 10 KB that do not compress, in 10 folders."""
    rng = random.Random(1)
    return zip_bytes([("folder%d/report%04d.pdf" % (i % 10, i), rng.randbytes(10 * 1024)) for i in range(1000)])


def many_members(count):
    return zip_bytes([("f%06d.txt" % i, b"") for i in range(count)], zipfile.ZIP_STORED)


def nest_42(levels, fan_out, leaf_bytes):
    """42.zip's shape: each level holds fan_out copies of the level below."""
    archive = zip_bytes([("zeros%d.bin" % i, bytes(leaf_bytes)) for i in range(fan_out)])
    for _ in range(levels - 1):
        archive = zip_bytes([("nest%d.zip" % i, archive) for i in range(fan_out)])
    return archive


def deep_nest(levels):
    archive = zip_bytes([("invoice.exe", b"MZ")])
    for _ in range(levels - 1):
        archive = zip_bytes([("level.zip", archive)])
    return archive


def gzip_bomb(mebibytes):
    """Concatenated gzip members: a GiB of output from a MB of input."""
    return gzip.compress(b"A" * MB, 9) * mebibytes


def overlapping(copies, member_bytes):
    """One compressed member that `copies` central directory entries all point at."""
    data = zip_bytes([("zeros.bin", bytes(member_bytes))])
    directory = data.rfind(b"PK\x01\x02")
    end = data.rfind(b"PK\x05\x06")
    entry = data[directory:end]
    trailer = bytearray(data[end:])
    struct.pack_into("<HHII", trailer, 8, copies, copies, len(entry) * copies, directory)
    return data[:directory] + entry * copies + bytes(trailer)


def tar_gz_drain(mebibytes):
    """A tar.gz whose second member is only reached by decompressing the first."""
    out = io.BytesIO()
    with tarfile.open(fileobj=out, mode="w:gz", compresslevel=1) as archive:
        for name, size in (("big.bin", mebibytes * MB), ("invoice.exe", 2)):
            info = tarfile.TarInfo(name)
            info.size = size
            archive.addfile(info, io.BytesIO(bytes(size)))
    return out.getvalue()


def workloads():
    return [
        ("zip, 1,000 members, 10 MB", "attachment.zip", thousand_members(), True),
        ("zip, 100,000 empty members", "many.zip", many_members(100000), True),
        ("42.zip shape: 4 levels of 16, 1 MiB leaves", "42.zip", nest_42(4, 16, MB), False),
        ("zip nested 20 deep", "deep.zip", deep_nest(20), False),
        ("gzip bomb, 1 GiB of output", "bomb.gz", gzip_bomb(1024), False),
        ("zip, 10,000 entries over one 64 MiB member", "overlap.zip", overlapping(10000, 64 * MB), False),
        ("tar.gz, 256 MiB member first", "drain.tar.gz", tar_gz_drain(256), True),
    ]


def build_examine():
    build = os.path.join(REPO, "build", "archive-bench")
    subprocess.run(["cmake", "-S", REPO, "-B", build, "-G", "Ninja", "-DCMAKE_BUILD_TYPE=Release",
                    "-DZENTRY_TESTS=OFF"], check=True, stdout=subprocess.DEVNULL)
    subprocess.run(["ninja", "-C", build, "-j2", "examine_file"], check=True, stdout=subprocess.DEVNULL)
    return os.path.join(build, "bench", "examine_file")


def examination_summary(examine, path, name):
    result = subprocess.run([examine, path, name], stdout=subprocess.PIPE, text=True, check=True)
    fields = result.stdout.split()
    return dict(zip(fields[0::2], (int(value) for value in fields[1::2])))


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--examine", help="the examine_file binary (default: build a Release one)")
    parser.add_argument("--runs", type=int, default=5, help="timed runs per measurement (median)")
    parser.add_argument("--only", help="run only workloads whose name contains this text")
    parser.add_argument("--keep", help="write the workloads into this directory and keep them")
    args = parser.parse_args()

    # bsdtar comes from libarchive-tools; the libarchive the listing uses from libarchive-dev.
    subprocess.run([os.path.join(REPO, "tools", "ensure-packages.sh"), "libarchive-tools", "libarchive-dev"],
                   check=True)
    examine = os.path.abspath(args.examine) if args.examine else build_examine()
    work = args.keep or tempfile.mkdtemp(prefix="zentry-archive-bench-")
    os.makedirs(work, exist_ok=True)
    print("Wall time (CPU time) in ms, medians of %d runs; load average %.1f at the start." % (
        args.runs, os.getloadavg()[0]))
    print()
    print("| archive | size | names (markers) | examine_file | of which examination | peak RSS "
          "| bsdtar -tf | peak RSS | examine / bsdtar |")
    print("|---|---:|---:|---:|---:|---:|---:|---:|---:|")
    try:
        for label, name, data, with_bsdtar in workloads():
            if args.only and args.only not in label:
                continue
            path = os.path.join(work, name)
            with open(path, "wb") as file:
                file.write(data)
            summary = examination_summary(examine, path, name)
            wall, cpu = timed([examine, path, name], work, args.runs)
            rss = peak_rss_kb([examine, path, name], work)
            peer = "| - | - | -"
            if with_bsdtar:
                tar_wall, tar_cpu = timed(["bsdtar", "-tf", path], work, args.runs)
                tar_rss = peak_rss_kb(["bsdtar", "-tf", path], work)
                peer = "| %.1f (%.1f) | %.1f MB | %.2f" % (tar_wall * 1000, tar_cpu * 1000, tar_rss / 1024,
                                                          wall / tar_wall)
            print("| %s | %.2f MB | %d (%d) | %.1f (%.1f) | %.1f | %.1f MB %s |" % (
                label, len(data) / MB, summary["names"], summary["markers"], wall * 1000, cpu * 1000,
                summary["examination_us"] / 1000, rss / 1024, peer))
            sys.stdout.flush()
    finally:
        if not args.keep:
            shutil.rmtree(work)


if __name__ == "__main__":
    main()
