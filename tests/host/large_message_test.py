#!/usr/bin/env python3
"""zentry-host on messages too large to hold: a 1 GB message and a 10 MB
Subject field, generated on the fly and piped in; the verdict must be the one
a small message gets.

    tests/host/large_message_test.py ZENTRY_HOST
"""

import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "bench"))
import host_memory  # noqa: E402

MB = 1 << 20
CASES = [
    # name, message size, subject, rules, expected Subject line of the verdict
    ("1 GB message, attachment at its end", 1024 * MB, b"Your invoice", host_memory.RULES,
     b"Subject: Infected (Executable) - Your invoice\r\n"),
    # Former fault: a Subject over 128 KiB kept the filter from starting (exit 75).
    ("10 MB Subject, subject mask", MB, b"Your invoice " + b"x" * (10 * MB), b"Invoice\nYour invoice *\n\n",
     b"Subject: Infected (Invoice) - Your invoice " + b"x" * 87 + b"\r\n"),
    ("Subject of 140,000 trailing blanks", MB, b"Your invoice" + b" " * 140000, b"Invoice\nYour invoice\n\n",
     b"Subject: Infected (Invoice) - Your invoice" + b" " * 88 + b"\r\n"),
]


def main():
    failures = 0
    for name, size, subject, rules, verdict in CASES:
        code, output, _, seconds = host_memory.run_host(sys.argv[1], size, subject, rules)
        ok = code == 1 and output.endswith(verdict)
        print(f"{'ok  ' if ok else 'FAIL'} {name}: exit {code}, {seconds:.1f} s")
        if not ok:
            print(f"     output ends {output[-200:]!r}")
            failures += 1
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()
