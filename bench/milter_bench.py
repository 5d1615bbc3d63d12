#!/usr/bin/env python3
"""zentry-milter through a private Postfix: throughput, the milter's own time
per message, and its peak memory. A benchmark, run by hand (as root):

    bench/milter_bench.py BUILD_DIR [--messages 2000] [--sessions 4]

1. The same Postfix configuration without and with the milter, one after the
   other in the same run: MESSAGES messages of 5 KB over SESSIONS parallel
   SMTP sessions; messages per second from the first send until the last
   message is in its mailbox.
2. The milter's own time per message (its log's time= field): median, p99.
3. The milter's peak resident size (VmHWM) after those messages, then after
   50 messages of 10 MB sent at once.

With --metrics, instead: the milter without and with its metrics endpoint
(scraped every second meanwhile, as Prometheus would, ten times as often),
alternating, ROUNDS rounds each; messages per second as in 1.
"""

import argparse
import os
import pwd
import smtplib
import statistics
import subprocess
import sys
import threading
import time
import urllib.request

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tools"))
from private_postfix import DOMAIN, PrivatePostfix, free_port  # noqa: E402

SOURCE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")


def everyday_message(number, size=5 * 1024):
    """About `size` bytes: a text part and a small PDF; every tenth carries a .pif."""
    name = "update.pif" if number % 10 == 0 else "report.pdf"
    text = ("Dear colleague, please find the figures for this quarter attached. " * 40)[:size - 1700]
    lines = [f"From: sender@{DOMAIN}", f"To: bulk@{DOMAIN}", f"Subject: figures {number}",
             "Date: Mon, 7 Dec 2026 00:00:00 +0000", f"Message-ID: <bench-{number}@t>", "MIME-Version: 1.0",
             'Content-Type: multipart/mixed; boundary="b"', "", "--b", "Content-Type: text/plain", "", text,
             "--b", "Content-Type: application/octet-stream",
             f'Content-Disposition: attachment; filename="{name}"', "Content-Transfer-Encoding: base64", ""]
    lines += ["QUJDREVGR0hJSktMTU5PUFFSU1RVVldYWVphYmNkZWZnaGlqa2xtbm9wcXJzdHV2d3h5ejAxMjM0"] * 16
    lines += ["--b--", ""]
    return "\r\n".join(lines).encode()


def large_message(number, size=10 * 1024 * 1024):
    line = "QUJDREVGR0hJSktMTU5PUFFSU1RVVldYWVphYmNkZWZnaGlqa2xtbm9wcXJzdHV2d3h5ejAxMjM0\r\n"
    head = (f"From: sender@{DOMAIN}\r\nTo: bulk@{DOMAIN}\r\nSubject: large {number}\r\n"
            f"Message-ID: <large-{number}@t>\r\nMIME-Version: 1.0\r\n"
            'Content-Type: multipart/mixed; boundary="b"\r\n\r\n--b\r\n'
            'Content-Disposition: attachment; filename="data.bin"\r\nContent-Transfer-Encoding: base64\r\n\r\n')
    return (head + line * (size // len(line)) + "--b--\r\n").encode()


def send_all(port, messages, sessions):
    failures = []

    def session(first):
        try:
            with smtplib.SMTP("127.0.0.1", port, timeout=600) as client:
                for data in messages[first::sessions]:
                    client.sendmail(f"sender@{DOMAIN}", [f"bulk@{DOMAIN}"], data)
        except Exception as error:  # noqa: BLE001 - reported by the caller
            failures.append(repr(error))

    threads = [threading.Thread(target=session, args=(first,)) for first in range(sessions)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    if failures:
        raise RuntimeError(failures[:3])


def delivered_count(postfix):
    folders = [os.path.join(postfix.mail, user, "new") for user in ("bulk", "intercept")]
    return sum(len(os.listdir(folder)) for folder in folders if os.path.isdir(folder))


def throughput(postfix, messages, sessions):
    started = time.monotonic()
    send_all(postfix.port, messages, sessions)
    if not postfix.wait_until(lambda: delivered_count(postfix) >= len(messages), 600):
        raise RuntimeError(f"only {delivered_count(postfix)} of {len(messages)} delivered")
    return len(messages) / (time.monotonic() - started)


def peak_rss_mb(pid):
    with open(f"/proc/{pid}/status") as status:
        for line in status:
            if line.startswith("VmHWM:"):
                return int(line.split()[1]) / 1024
    return float("nan")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("build")
    parser.add_argument("--messages", type=int, default=2000)
    parser.add_argument("--sessions", type=int, default=4)
    parser.add_argument("--large", type=int, default=50)
    parser.add_argument("--rounds", type=int, default=3)
    parser.add_argument("--metrics", action="store_true", help="compare the milter without and with metrics")
    args = parser.parse_args()
    messages = [everyday_message(number) for number in range(args.messages)]
    if args.metrics:
        return compare_metrics(args, messages)

    # Each round sends the messages through a fresh instance without the
    # milter, then through the milter's: the machine's other work falls on
    # both alike, and the best round of each is reported.
    without, with_milter = [], []
    for round_number in range(args.rounds):
        without.append(run_without(messages, args.sessions))
        rate, times, after_everyday, after_large = run_with(args, messages, round_number == args.rounds - 1)
        with_milter.append(rate)

    print(f"messages of 5 KB: {args.messages} over {args.sessions} sessions, best of {args.rounds} rounds")
    print(f"without the milter: {max(without):.0f} messages/s (rounds: {', '.join(f'{r:.0f}' for r in without)})")
    print(f"with the milter:    {max(with_milter):.0f} messages/s ({max(with_milter) / max(without):.2f}x; "
          f"rounds: {', '.join(f'{r:.0f}' for r in with_milter)})")
    print(f"milter time per message: median {statistics.median(times):.3f} ms, "
          f"p99 {times[int(len(times) * 0.99) - 1]:.3f} ms over {len(times)} messages")
    print(f"milter peak RSS: {after_everyday:.1f} MB after the 5 KB messages, "
          f"{after_large:.1f} MB after {args.large} concurrent 10 MB messages")


def run_without(messages, sessions):
    plain = PrivatePostfix()
    try:
        plain.start()
        return throughput(plain, messages, sessions)
    finally:
        plain.remove()


def compare_metrics(args, messages):
    rounds = {False: [], True: []}  # metrics on: [(rate, milter CPU seconds, scrapes answered)]
    for _ in range(args.rounds):
        for metrics in (False, True):
            rounds[metrics].append(run_with(args, messages, False, metrics=metrics)[0:3])
    print(f"messages of 5 KB: {args.messages} over {args.sessions} sessions, {args.rounds} rounds each, alternating")
    for metrics, name in ((False, "milter without metrics"), (True, "milter with metrics")):
        rates = [rate for rate, _, _ in rounds[metrics]]
        cpu = [seconds * 1e6 / args.messages for _, seconds, _ in rounds[metrics]]
        print(f"{name}: best {max(rates):.0f}, median {statistics.median(rates):.0f} messages/s "
              f"(rounds: {', '.join(f'{r:.0f}' for r in rates)}); milter CPU per message: median "
              f"{statistics.median(cpu):.0f} us (rounds: {', '.join(f'{c:.0f}' for c in cpu)})")
    print(f"scrapes answered during the rounds with metrics: {', '.join(str(n) for _, _, n in rounds[True])}")


def cpu_seconds(pid):
    """User and system CPU time of the process so far."""
    with open(f"/proc/{pid}/stat") as stat:
        fields = stat.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def scrape_every_second(port, stop, answered):
    """Fetches /metrics once a second until `stop` is set; counts the answers."""
    while not stop.wait(1):
        try:
            with urllib.request.urlopen(f"http://127.0.0.1:{port}/metrics", timeout=5) as response:
                if b"zentry_milter_messages_total" in response.read():
                    answered.append(1)
        except OSError:
            pass


def run_with(args, messages, measure, metrics=False):
    """Messages per second through the milter; with `measure`, also its times
    per message and its peak memory after the 5 KB and the 10 MB messages.
    With `metrics`, the endpoint is on and scraped every second: returns the
    rate and the number of scrapes answered."""

    postfix = PrivatePostfix()
    socket_path = os.path.join(postfix.root, "milter.sock")
    postfix.milter_socket = f"unix:{socket_path}"
    log_path = os.path.join(postfix.root, "milter.log")
    metrics_port = free_port()
    milter = subprocess.Popen(
        [os.path.join(args.build, "zentry-milter"), "--socket", f"unix:{socket_path}", "--rules",
         os.path.join(SOURCE, "examples", "rules", "zentry.dat"), "--mailbox", f"intercept@{DOMAIN}",
         "--foreground", *(["--metrics", f"inet:{metrics_port}"] if metrics else [])], stderr=open(log_path, "wb"))
    try:
        deadline = time.monotonic() + 20
        while not os.path.exists(socket_path) and time.monotonic() < deadline:
            time.sleep(0.05)
        # The socket is the owner's and its group's; Postfix's smtpd runs as postfix.
        os.chown(socket_path, -1, pwd.getpwnam("postfix").pw_gid)
        postfix.start()
        stop, answered = threading.Event(), []
        scraper = threading.Thread(target=scrape_every_second, args=(metrics_port, stop, answered))
        if metrics:
            scraper.start()
        rate = throughput(postfix, messages, args.sessions)
        if metrics:
            stop.set()
            scraper.join()
        if args.metrics:
            return rate, cpu_seconds(milter.pid), len(answered), None
        if not measure:
            return rate, None, None, None
        after_everyday = peak_rss_mb(milter.pid)
        with open(log_path) as log:
            times = sorted(float(line.split("time=")[1].split("ms")[0]) for line in log if "time=" in line)
        large = [large_message(number) for number in range(args.large)]
        send_all(postfix.port, large, args.large)
        return rate, times, after_everyday, peak_rss_mb(milter.pid)
    finally:
        milter.terminate()
        milter.wait(timeout=60)
        postfix.remove()


if __name__ == "__main__":
    sys.exit(main())
