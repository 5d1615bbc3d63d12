"""zentry-milter's metrics endpoint behind a private Postfix: messages of every kind are sent through it,
/metrics is scraped and its values checked, every scrape validated by promtool, the endpoint's answers to
hostile clients checked, and the fleet documentation's alerting rules checked by promtool too.
    metrics_test.py ZENTRY_MILTER SOURCE_DIR    (exit 77: skipped, not root)
"""

import base64
import hashlib
import io
import json
import os
import pathlib
import re
import shutil
import signal
import socket
import subprocess
import sys
import time
import zipfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools"))
from private_postfix import DOMAIN, Milter, PrivatePostfix, free_port  # noqa: E402

MILTER, SOURCE = sys.argv[1:3] if len(sys.argv) >= 3 else (None, ".")
INTERCEPT = f"intercept@{DOMAIN}"
until = PrivatePostfix.wait_until
# The example rules (the strict markers among them) and a label in Latin-1, as older rules files are written.
RULES = (pathlib.Path(SOURCE, "examples", "rules", "zentry.dat").read_bytes() +
         b"Ausf\xfchrbare Datei\n\n*.cpl\n")


def message(subject, name, content):
    """A message with one attachment `name` holding `content`."""
    body = base64.encodebytes(content).decode().replace("\n", "\r\n")
    return (f"From: sender@{DOMAIN}\r\nTo: alice@{DOMAIN}\r\nSubject: {subject}\r\n"
            f"Message-ID: <{subject.replace(' ', '.')}@t>\r\nMIME-Version: 1.0\r\n"
            'Content-Type: multipart/mixed; boundary="b"\r\n\r\n--b\r\nContent-Type: text/plain\r\n\r\nHello.\r\n'
            f'--b\r\nContent-Type: application/octet-stream\r\nContent-Disposition: attachment; filename="{name}"\r\n'
            f"Content-Transfer-Encoding: base64\r\n\r\n{body}--b--\r\n").encode()


def zip_holding(name):
    out = io.BytesIO()
    with zipfile.ZipFile(out, "w") as archive:
        archive.writestr(name, "text " * 100)
    return out.getvalue()


def http(port, request, read=True):
    """The raw response to `request` (bytes) from the endpoint."""
    with socket.create_connection(("127.0.0.1", port), timeout=10) as client:
        client.sendall(request)
        chunks = []
        while read and (chunk := client.recv(65536)):
            chunks.append(chunk)
        return b"".join(chunks)


def scrape(port):
    """The exposition as {(name, ((label, value), ...)): value}, after promtool has accepted it."""
    response = http(port, b"GET /metrics HTTP/1.1\r\nHost: localhost\r\nAccept: */*\r\n\r\n")
    head, body = response.split(b"\r\n\r\n", 1)
    assert head.startswith(b"HTTP/1.1 200 ") and b"text/plain; version=0.0.4" in head, head
    assert int(re.search(rb"Content-Length: (\d+)", head).group(1)) == len(body), head
    check = subprocess.run(["promtool", "check", "metrics"], input=body, stdout=subprocess.PIPE,
                           stderr=subprocess.STDOUT, timeout=60)
    assert check.returncode == 0, check.stdout.decode() + body.decode()
    samples = {}
    for line in body.decode().splitlines():
        if line.startswith("#"):
            continue
        found = re.fullmatch(r'(\w+)(?:\{(.*)\})? (\S+)', line)
        assert found, line
        labels = tuple(re.findall(r'(\w+)="((?:[^"\\]|\\.)*)"', found.group(2) or ""))
        samples[(found.group(1), labels)] = float(found.group(3))
    return samples


def value(samples, name, **labels):
    return samples.get((name, tuple(labels.items())))


def family(samples, name, label):
    """{label value: sample} of one labelled family."""
    return {dict(key[1])[label]: number for key, number in samples.items() if key[0] == name}


def check_counts(port, rules_bytes):
    got = scrape(port)
    expected = {
        ("zentry_milter_messages_total", (("verdict", "clean"), ("action", "none"))): 3,
        ("zentry_milter_messages_total", (("verdict", "hit"), ("action", "redirect"))): 4,
        ("zentry_milter_messages_total", (("verdict", "failed"), ("action", "tempfail"))): 1,
        ("zentry_milter_temporary_failures_total", (("cause", "too_large"),)): 1,
        ("zentry_milter_temporary_failures_total", (("cause", "scan_failed"),)): 0,
        ("zentry_milter_archives_listed_total", ()): 2,
        ("zentry_milter_archives_incomplete_total", ()): 1,
        ("zentry_milter_archive_lister_starts_total", ()): 2,
        ("zentry_milter_archive_lister_failures_total", ()): 0,
        ("zentry_milter_scan_duration_seconds_count", ()): 7,
        ("zentry_milter_message_size_bytes_count", ()): 8,
        ("zentry_milter_rules", ()): RULES.count(b"\n") // 3,
        ("zentry_milter_rules_loads_total", ()): 1,
        ("zentry_milter_rules_load_failures_total", ()): 0,
        ("zentry_milter_rules_info", (("sha256", hashlib.sha256(rules_bytes).hexdigest()),)): 1,
        ("zentry_milter_build_info", (("version", "1.3.0"), ("mode", "strict"))): 1,
    }
    assert {key: got.get(key) for key in expected} == expected, got
    hits = family(got, "zentry_milter_rule_hits_total", "rule")
    assert hits == {"Double extension": 0, "Executable attachment": 0, "Program information file": 2,
                    "Screen saver": 0, "Script": 0, "Love letter": 0, "Ausführbare Datei": 1,
                    "Archive that could not be looked into completely": 1,
                    "Message nested too deep to be looked into": 0}, hits
    # The oversized message (150 KB) is the only one above 64 KiB.
    assert value(got, "zentry_milter_message_size_bytes_bucket", le="65536") == 7, got
    assert 0 < value(got, "zentry_milter_scan_duration_seconds_sum") < 7 * 5, got
    assert abs(value(got, "zentry_milter_rules_last_load_timestamp_seconds") - time.time()) < 600, got


def check_reload(milter, port, rules_path):
    """A reload drops the series of labels gone, keeps the counts of labels kept; a failed read counts."""
    before = milter.log().count("rules read from")
    changed = RULES.replace(b"Script\n", b"Visual Basic script\n")
    pathlib.Path(rules_path).write_bytes(changed)
    milter.process.send_signal(signal.SIGHUP)
    assert until(lambda: milter.log().count("rules read from") > before, 10), milter.log()
    got = scrape(port)
    hits = family(got, "zentry_milter_rule_hits_total", "rule")
    assert "Script" not in hits and hits["Visual Basic script"] == 0 and hits["Program information file"] == 2, hits
    assert value(got, "zentry_milter_rules_loads_total") == 2, got
    assert value(got, "zentry_milter_rules_info", sha256=hashlib.sha256(changed).hexdigest()) == 1, got
    os.replace(rules_path, rules_path + ".away")
    milter.process.send_signal(signal.SIGHUP)
    assert until(lambda: "cannot read the rules" in milter.log(), 10), milter.log()
    got = scrape(port)
    assert value(got, "zentry_milter_rules_load_failures_total") == 1, got
    assert value(got, "zentry_milter_rules_info", sha256=hashlib.sha256(changed).hexdigest()) == 1, got
    os.replace(rules_path + ".away", rules_path)


def check_hostile_clients(port):
    """Other paths and methods, garbage, an endless head and idle connections: answered or dropped, and a
    scrape beside them is answered at once."""
    answers = [
        (b"GET /other HTTP/1.1\r\n\r\n", b"HTTP/1.1 404 "),
        (b"POST /metrics HTTP/1.1\r\nContent-Length: 0\r\n\r\n", b"HTTP/1.1 405 "),
        (b"GET /metrics HTTP/2.0\r\n\r\n", b"HTTP/1.1 505 "),
        (b"\x00\xff garbage\r\n\r\n", b"HTTP/1.1 400 "),
        (b"GET /metrics HTTP/1.0\n" + b"X: " + b"y" * 20000 + b"\n\n", b"HTTP/1.1 431 "),
    ]
    for request, start in answers:
        response = http(port, request)
        assert response.startswith(start), (request[:40], response[:200])
    head = http(port, b"HEAD /metrics HTTP/1.0\r\n\r\n")
    assert head.startswith(b"HTTP/1.1 200 ") and head.endswith(b"\r\n\r\n"), head
    idle = [socket.create_connection(("127.0.0.1", port), timeout=10) for _ in range(4)]
    try:
        idle[0].sendall(b"GET /metr")  # a request that never ends
        started = time.monotonic()
        scrape(port)
        assert time.monotonic() - started < 2, "a scrape waited for idle clients"
        # The idle ones are dropped after their time.
        idle[0].settimeout(15)
        assert idle[0].recv(100) == b"", "an idle connection was answered"
    finally:
        for client in idle:
            client.close()


def check_lister_missing(milter_binary, root, postfix, port, rules_path):
    """A milter whose archive lister is missing: the start fails and the message is deferred, not passed."""
    alone = os.path.join(root, "alone")
    os.makedirs(alone)
    shutil.copy(milter_binary, alone)
    metrics_port = free_port()
    milter = Milter(os.path.join(alone, os.path.basename(milter_binary)), root, rules_path, INTERCEPT,
                    "--strict", "--metrics", f"inet:{metrics_port}")
    milter.port, milter.command[2] = port, f"inet:{port}"  # where the Postfix instance looks for it
    milter.start()
    try:
        error = postfix.send(message("zip alone", "docs.zip", zip_holding("a.txt")))
        assert error and error[0] == 451, error
        got = scrape(metrics_port)
        counts = [value(got, f"zentry_milter_{name}_total") for name in
                  ("archive_lister_starts", "archive_lister_failures", "archives_listed", "archives_incomplete")]
        assert counts == [1, 1, 0, 0], counts
        assert value(got, "zentry_milter_temporary_failures_total", cause="lister_unavailable") == 1, got
        assert value(got, "zentry_milter_rule_hits_total", rule="Archive that could not be looked into completely") == 0, got
    finally:
        assert milter.stop() == 0


def check_monitoring_examples():
    """The example Prometheus configuration is valid, its alerts fire as their tests say, and the dashboard
    plots the three families."""
    examples = os.path.join(SOURCE, "examples", "monitoring")
    for command in (["check", "config", os.path.join(examples, "prometheus.yml")],
                    ["test", "rules", os.path.join(os.path.dirname(os.path.abspath(__file__)), "testdata",
                                                   "monitoring", "alerts_test.yml")]):
        check = subprocess.run(["promtool", *command], stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=60)
        assert check.returncode == 0, check.stdout.decode()
    with open(os.path.join(examples, "zentry-milter-dashboard.json")) as dashboard:
        queries = " ".join(target["expr"] for panel in json.load(dashboard)["panels"]
                           for target in panel.get("targets", []))
    for metric in ("zentry_milter_rule_hits_total", "zentry_milter_messages_total",
                   "zentry_milter_scan_duration_seconds_bucket"):
        assert metric in queries, metric


def send_the_messages(postfix):
    sends = [
        (message("lunch", "menu.txt", b"soup"), None),
        (message("minutes", "minutes.txt", b"notes"), None),
        (message("invoice", "invoice.pif", b"text"), None),
        (message("invoice again", "invoice2.pif", b"text"), None),
        (message("panel", "panel.cpl", b"x"), None),
        (message("docs", "docs.zip", zip_holding("readme.txt")), None),
        (message("broken docs", "broken.zip", zip_holding("readme.txt")[:60]), None),
        (message("large", "large.txt", b"x" * 110000), 452),
    ]
    for data, refusal in sends:
        error = postfix.send(data)
        assert (error and error[0]) == refusal, (data[:80], error)


def main():
    if os.geteuid() != 0:
        print("skipped: a private Postfix needs root")
        return 77
    subprocess.run(["debconf-set-selections"], input=b"postfix postfix/main_mailer_type select No configuration\n",
                   check=True)
    # promtool validates the exposition; without it the test fails, it never passes unchecked.
    subprocess.run([os.path.join(SOURCE, "tools", "ensure-packages.sh"), "postfix", "prometheus"], check=True)
    root = PrivatePostfix().root
    rules_path = os.path.join(root, "zentry.dat")
    pathlib.Path(rules_path).write_bytes(RULES)
    metrics_port = free_port()
    milter = Milter(MILTER, root, rules_path, INTERCEPT, "--strict", "--max-message-size", "100000",
                    "--rules-check-seconds", "3600", "--metrics", f"inet:{metrics_port}")
    postfix = PrivatePostfix(milter_socket=f"inet:127.0.0.1:{milter.port}")
    try:
        milter.start()
        postfix.start()
        check_monitoring_examples()
        send_the_messages(postfix)
        check_counts(metrics_port, RULES)
        check_hostile_clients(metrics_port)
        check_reload(milter, metrics_port, rules_path)
        assert postfix.send(message("still scanning", "after.pif", b"text")) is None
        assert value(scrape(metrics_port), "zentry_milter_rule_hits_total", rule="Program information file") == 3
        code = milter.stop()  # a clean stop, the metrics thread included
        assert code == 0, f"the milter's stop on SIGTERM: exit status {code}"
        check_lister_missing(MILTER, root, postfix, milter.port, rules_path)
        print("ok    metrics")
        return 0
    except AssertionError as error:
        print(f"FAIL  {error!r}"[:6000])
        print(f"--- milter log (tail)\n{milter.log()[-3000:]}")
        return 1
    finally:
        milter.stop()
        postfix.remove()
        shutil.rmtree(root, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
