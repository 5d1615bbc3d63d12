"""zentry-milter behind a private Postfix (installed from Debian when missing): one runner over a table
of checks that send mail and read what was delivered. Every wait is bounded, everything stopped on every path.
    postfix_milter_test.py ZENTRY_MILTER ZENTRY_HOST SOURCE_DIR [CHECK...]    (exit 77: skipped, not root)
"""

import concurrent.futures
import glob
import os
import pathlib
import pwd
import re
import shutil
import signal
import smtplib
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools"))
from private_postfix import DOMAIN, Milter, PrivatePostfix, free_port  # noqa: E402

MILTER, HOST, SOURCE = sys.argv[1:4] if len(sys.argv) >= 4 else (None, None, ".")
DATA = os.path.join(os.path.dirname(os.path.abspath(__file__)), "testdata")
RULES = os.path.join(SOURCE, "examples", "rules", "zentry.dat")
INTERCEPT, SENDER, ALICE = (f"{user}@{DOMAIN}" for user in ("intercept", "sender", "alice"))
PIF_HIT = b'rule="Program information file"; name="%s"'  # the hit header for a *.pif attachment
until = PrivatePostfix.wait_until


def read(path):
    return pathlib.Path(path).read_bytes()


def message(subject, name="a.txt", message_id=None, padding=""):
    """The small MIME message of testdata/postfix, one attachment called `name`."""
    return read(os.path.join(DATA, "postfix", "message.eml")).decode().format(
        domain=DOMAIN, subject=subject, name=name, id=message_id or subject.replace(" ", "."),
        padding=padding).replace("\n", "\r\n").encode()


def run(arguments, data=None, check=True):
    return subprocess.run(arguments, input=data, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, check=check,
                          timeout=120).stdout


def header(delivered, name):
    """The first field `name` of a delivered message, unfolded."""
    found = re.search(rb"^" + name.encode() + rb": ?(.*(?:\n[ \t].*)*)", delivered.split(b"\n\n", 1)[0], re.M | re.I)
    return found.group(1).replace(b"\n", b"") if found else None


def direct_verdict(data, rules, root):
    """(subject, name, rule) as zentry says them, run by zentry-host as the server would; None when clean."""
    path = os.path.join(root, "direct.eml")
    pathlib.Path(path).write_bytes(data)
    output = run([HOST, "--debug", path, rules, INTERCEPT], check=False)
    subject = re.search(rb"^Subject: (.*)\r$", output, re.M)
    found = re.search(rb"^Found suspect file - (.*) \((.*)\)\r$", output, re.M)
    return (subject.group(1), found.group(1), found.group(2)) if subject else None


def send_raw(port, data, recipients, sender=SENDER):
    """One message with each RCPT argument exactly as given (smtplib would rewrite them); returns the reply
    to the end of the data as (code, text)."""
    with smtplib.SMTP("127.0.0.1", port, timeout=60) as client:
        client.ehlo()
        assert client.mail(sender)[0] == 250
        for recipient in recipients:
            reply = client.docmd("RCPT TO:" + recipient)
            assert reply[0] == 250, (recipient, reply)
        return client.data(data)


def held(postfix):
    return [entry for entry in postfix.queue() if entry.get("queue_name") == "hold"]


def status_ids(pid):
    """(user ids, group ids, supplementary groups) of a process, as sets."""
    fields = dict(line.split(":", 1) for line in pathlib.Path(f"/proc/{pid}/status").read_text().splitlines())
    return tuple(set(int(n) for n in fields[name].split()) for name in ("Uid", "Gid", "Groups"))


def printable(text):
    """The milter's encoding of rule labels and names in its header."""
    return "".join(chr(b) if 0x20 <= b < 0x7F and chr(b) not in '"\\%' else "%%%02X" % b for b in text[:200]).encode()


class Mail:
    """What the checks share: the instance, the milter, and the messages each mailbox should hold."""

    def __init__(self, postfix, milter, root):
        self.postfix, self.milter, self.root, self.rules = postfix, milter, root, os.path.join(root, "zentry.dat")
        self.sent = {}  # user -> messages expected in that mailbox so far

    def expect(self, user, more=1, seconds=60):
        self.sent[user] = self.sent.get(user, 0) + more
        got = lambda: self.postfix.delivered(user)  # noqa: E731
        assert until(lambda: len(got()) >= self.sent[user], seconds), f"{user}: {len(got())} of {self.sent[user]}"
        return got()

    def set_rules(self, text, hup=True):
        """New rules, read at once on SIGHUP or when the milter's check sees the file changed."""
        before = self.milter.log().count("rules read from")
        pathlib.Path(self.rules + ".new").write_bytes(text)
        os.replace(self.rules + ".new", self.rules)
        if hup:
            self.milter.process.send_signal(signal.SIGHUP)
        self.wait_log("rules read from", before + 1)

    def wait_log(self, text, count=1):
        assert until(lambda: self.milter.log().count(text) >= count, 10), f"the milter did not log {text!r}"

    def sendmail(self, data, *recipients):
        run(["sendmail", "-C", self.postfix.config, "-f", SENDER, *recipients], data)

    def release_held(self, count=1):
        """Waits for `count` held messages; returns their recipients and releases them (postsuper -H)."""
        assert until(lambda: len(held(self.postfix)) == count, 30), self.postfix.queue()
        entries = held(self.postfix)
        for entry in entries:
            run(["postsuper", "-c", self.postfix.config, "-H", entry["queue_id"]])
        return sorted(recipient["address"] for entry in entries for recipient in entry["recipients"])

    def set_rules_failing(self, text):
        before = self.milter.log().count("no rule in it")
        pathlib.Path(self.rules).write_bytes(text)
        self.milter.process.send_signal(signal.SIGHUP)
        self.wait_log("no rule in it", before + 1)

    def nothing_more(self):
        time.sleep(1)
        counts = {user: len(self.postfix.delivered(user)) for user in self.sent}
        assert counts == self.sent, f"delivered {counts}, expected {self.sent}"

    def delivered_as_zentry_says(self, data, rules=RULES, user="carol", recipients=None):
        """Sends `data`: a hit reaches the intercept mailbox with zentry's subject and the hit header,
        a clean message reaches `user` without it. Returns (delivered, verdict)."""
        assert self.postfix.send(data, recipients or [f"{user}@{DOMAIN}"]) is None
        verdict = direct_verdict(data, rules, self.root)
        delivered = self.expect("intercept" if verdict else user)[-1]
        got = (header(delivered, "Subject"), header(delivered, "X-Zentry-Hit"))
        hit = verdict and (verdict[0], b'rule="%s"; name="%s"' % (printable(verdict[2]), printable(verdict[1])))
        assert got == (hit or (got[0], None)), (got, hit)
        return delivered, verdict

    def flows_again(self, data):
        """The milter back: `data` goes through once, nothing else turns up."""
        self.milter.start()
        assert self.postfix.send(data) is None
        self.expect("alice")
        self.nothing_more()


class Checks(Mail):
    """The checks, run in this order."""

    def clean_message_unchanged(self):
        data = message("lunch on friday", "menu.pdf")
        delivered, _ = self.delivered_as_zentry_says(data, user="alice")
        assert delivered.endswith(data.replace(b"\r\n", b"\n")), delivered

    def hit_goes_to_intercept_only(self):
        delivered, verdict = self.delivered_as_zentry_says(message("Your invoice", "invoice.pif"),
                                                           recipients=[ALICE, f"bob@{DOMAIN}"])
        assert verdict and header(delivered, "X-Zentry-Original-Recipients") == \
            f"<{ALICE}>,\t<bob@{DOMAIN}>".encode(), delivered
        # One log line per message: queue id, verdict, rule, name, time taken.
        assert re.search(r'queue=\w+ verdict=hit action=redirect rule="Program information file" '
                         r'name="invoice.pif" time=[0-9.]+ms', self.milter.log()), self.milter.log()
        self.sent.setdefault("bob", 0)
        self.nothing_more()

    def same_verdict_as_zentry(self):
        """Every example (with its rules) and real-world message: the verdict zentry gives."""
        cases = [(read(path)[4:], os.path.join(os.path.dirname(path), "zentry.dat"))
                 for path in sorted(glob.glob(os.path.join(SOURCE, "examples", "*", "routing.dat")))]
        mails = [read(path) for path in sorted(glob.glob(os.path.join(DATA, "*.eml")))]
        mails += [read(os.path.join(SOURCE, "examples", "mail", "invoice.eml"))]
        mbox = read(os.path.join(SOURCE, "examples", "mail", "sample.mbox"))
        mails += [entry.split(b"\n", 1)[1] for entry in re.split(rb"^(?=From )", mbox, flags=re.M) if entry.strip()]
        for number, (data, rules) in enumerate(cases + [(mail, RULES) for mail in mails]):
            self.set_rules(read(rules), hup=number % 4 != 0)
            self.delivered_as_zentry_says(data.replace(b"\r\n", b"\n").replace(b"\n", b"\r\n"), rules)
        self.set_rules(read(RULES))
        self.nothing_more()

    def reject_answers_550(self):
        path = os.path.join(self.root, "reject.eml")
        pathlib.Path(path).write_bytes(message("Your invoice", "invoice.pif"))
        with self.milter.running_with("--action", "reject"):
            swaks = run(["swaks", "--server", f"127.0.0.1:{self.postfix.port}", "--from", SENDER, "--to", ALICE,
                         "--data", f"@{path}", "--timeout", "60"], check=False)
        assert re.search(rb'<\*\* 550 5\.7\.1 .*"Program information file"', swaks), swaks
        self.nothing_more()

    def quarantine_holds_and_tag_delivers(self):
        with self.milter.running_with("--action", "quarantine"):
            assert self.postfix.send(message("held", "held.pif")) is None
            held = lambda: [entry for entry in self.postfix.queue() if entry.get("queue_name") == "hold"]  # noqa
            assert until(lambda: len(held()) == 1, 30), self.postfix.queue()
            run(["postsuper", "-c", self.postfix.config, "-d", held()[0]["queue_id"]])
        with self.milter.running_with("--action", "tag"):
            assert self.postfix.send(message("tagged", "tagged.pif")) is None
            delivered = self.expect("alice")[-1]
        got = (header(delivered, "Subject"), header(delivered, "X-Zentry-Hit"))
        assert got == (b"tagged", PIF_HIT % b"tagged.pif"), delivered
        self.nothing_more()

    def parallel_sessions_deliver_once(self, total=500, sessions=5, rules_changes=0):
        logged = self.milter.log().count(" verdict=")

        def session(first):  # one SMTP session; an error fails the check
            with smtplib.SMTP("127.0.0.1", self.postfix.port, timeout=120) as client:
                for number in range(first, total, sessions):
                    client.sendmail(SENDER, [f"bulk@{DOMAIN}"], message(
                        f"bulk {number}", "x.pif" if number % 5 == 0 else "x.txt", f"bulk-{rules_changes}-{number}"))

        with concurrent.futures.ThreadPoolExecutor(sessions) as pool:
            running = [pool.submit(session, first) for first in range(sessions)]
            for change in range(rules_changes):
                # Every version still catches *.pif; half also name *.txt late, under a label that never matches.
                self.set_rules(read(RULES) + (b"Never\nno such subject\n*.txt\n" if change % 2 else b""))
            for future in running:
                future.result(timeout=300)
        delivered = self.expect("bulk", total - total // 5, 120) + self.expect("intercept", total // 5, 120)
        ids = [header(m, "Message-ID") or b"" for m in delivered]
        mine = [i for i in ids if i.startswith(f"<bulk-{rules_changes}-".encode())]
        assert len(mine) == total == len(set(mine)), (len(mine), len(set(mine)))
        assert self.milter.log().count(" verdict=") - logged == total, "not one log line per message"
        self.nothing_more()

    def reload_under_load_loses_nothing(self):
        self.parallel_sessions_deliver_once(total=200, sessions=4, rules_changes=6)

    def rereads_in_quick_succession_keep_serving(self):
        """SIGHUPs sent faster than the milter reads the rules: each is a reread, never a stop."""
        for _ in range(3000):
            self.milter.process.send_signal(signal.SIGHUP)
        time.sleep(6)  # a library stopped by a signal notices within five seconds
        assert self.milter.process.poll() is None, self.milter.log()[-500:]
        assert self.postfix.send(message("after the rereads", "a.pif")) is None
        self.expect("intercept")

    def unreadable_rules_keep_the_old(self):
        os.replace(self.rules, self.rules + ".away")
        self.milter.process.send_signal(signal.SIGHUP)
        self.wait_log("cannot read the rules")
        assert self.postfix.send(message("still filtered", "a.pif")) is None
        self.expect("intercept")
        time.sleep(2.5)  # two more checks of the file: said once, not on every check
        assert self.milter.log().count("cannot read the rules") == 1, self.milter.log()
        os.replace(self.rules + ".away", self.rules)

    def milter_down_defers(self):
        self.milter.stop()
        error = self.postfix.send(message("while down"))
        assert error is not None and 400 <= error[0] < 500, error
        self.flows_again(message("while down"))

    def local_submission_waits_for_milter(self):
        for user in ("alice", "intercept"):
            self.sent.setdefault(user, len(self.postfix.delivered(user)))
        self.milter.stop()
        run(["sendmail", "-C", self.postfix.config, "-f", SENDER, ALICE], message("submitted locally", "a.pif"))
        time.sleep(3)
        self.nothing_more()
        self.milter.start()
        run(["postkick", "-c", self.postfix.config, "public", "pickup", "W"])
        assert self.release_held() == [INTERCEPT]  # a local submission's recipient: redirected and held
        assert header(self.expect("intercept")[-1], "X-Zentry-Hit") == PIF_HIT % b"a.pif"
        self.nothing_more()

    def milter_killed_mid_message_defers(self):
        data = message("killed midway")
        with smtplib.SMTP("127.0.0.1", self.postfix.port, timeout=60) as client:
            client.ehlo()
            assert client.mail(SENDER)[0] == 250 and client.rcpt(ALICE)[0] == 250
            client.putcmd("data")
            assert client.getreply()[0] == 354
            client.send(data[:100])
            self.milter.stop(signal.SIGKILL)
            client.send(data[100:] + b"\r\n.\r\n")
            code, text = client.getreply()
        assert 400 <= code < 500, (code, text)
        self.flows_again(data)

    def oversized_message_defers(self):
        with self.milter.running_with("--max-message-size", "100000"):
            error = self.postfix.send(message("too large", "a.pif", padding="x" * 150000))
        assert error is not None and error[0] == 452, error
        self.nothing_more()

    def every_recipient_form_redirected(self):
        """Every form of alice's address over SMTP: a clean message reaches her (so the form is one Postfix
        delivers), a hit reaches the intercept mailbox only, with the null sender."""
        forms = ["<ALICE@ZENTRY.TEST>", '<"alice"@zentry.test>', "<alice@zentry.test.>", "<alice+ext@zentry.test>",
                 "<alice@localhost>", "<Alice@LocalHost.>", '<"alice"@localhost>', "<alice%localhost@localhost>",
                 "<localhost!alice@localhost>", "<alice@[127.0.0.1]>", "<@a,@b:alice@zentry.test>",
                 "<@a,@b:alice@localhost>", "<@[127.0.0.1]:alice@localhost>", "alice@zentry.test", "<team@zentry.test>"]
        for number, form in enumerate(forms):
            assert send_raw(self.postfix.port, message(f"form {number}"), [form])[0] == 250
            self.expect("alice")
            if form == "<team@zentry.test>":
                self.expect("bob")
            assert send_raw(self.postfix.port, message(f"form hit {number}", "a.pif"), [form])[0] == 250
            if form.startswith("<"):
                delivered = self.expect("intercept")[-1]
                assert delivered.startswith(b"Return-Path: <>\n"), delivered[:200]
            else:  # no brackets: the removal is not certain, so the message is held as well
                assert self.release_held() == [INTERCEPT], form
                self.expect("intercept")
            self.nothing_more()
        assert "action=redirect+hold" in self.milter.log()

    def local_submission_redirected_or_held(self):
        """sendmail(1) to a bare name, an alias, a full address: never delivered to the original recipient."""
        for recipients in (["alice"], ["team"], [ALICE], ["alice@localhost"], ["bob", "alice"]):
            self.sendmail(message("local hit " + " ".join(recipients), "a.pif"), *recipients)
            assert self.release_held() == [INTERCEPT], recipients
            delivered = self.expect("intercept")[-1]
            assert header(delivered, "X-Zentry-Original-Recipients") == ",\t".join(
                r if "@" in r else f"{r}@{DOMAIN}" for r in recipients).encode(), delivered
            self.nothing_more()
        self.sendmail(message("local clean"), "team")
        self.expect("alice"), self.expect("bob")
        self.nothing_more()

    def missing_intercept_mailbox_bounces_to_nobody(self):
        """Redirected with the null sender: a mailbox that does not exist never returns the attachment to the
        sender (who has a mailbox here, so a bounce would show)."""
        self.sent.setdefault("sender", len(self.postfix.delivered("sender")))
        bounced = self.postfix.log().count("status=bounced")
        with self.milter.running_with("--mailbox", f"nobody-here@{DOMAIN}"):
            assert self.postfix.send(message("to nowhere", "a.pif")) is None
            assert until(lambda: self.postfix.log().count("status=bounced") > bounced, 30), self.postfix.log()[-2000:]
        time.sleep(2)
        self.nothing_more()

    def forged_fields_removed(self):
        forged = b"X-Zentry-Hit: made up\r\nx-zentry-original-recipients: <ceo@example.org>\r\n"
        assert self.postfix.send(forged + message("innocent")) is None
        delivered = self.expect("alice")[-1]
        assert b"made up" not in delivered and b"ceo@" not in delivered, delivered
        assert self.postfix.send(forged + message("caught", "a.pif")) is None
        delivered = self.expect("intercept")[-1]
        assert b"ceo@" not in delivered and delivered.count(b"X-Zentry-Hit:") == 1, delivered
        assert header(delivered, "X-Zentry-Original-Recipients") == f"<{ALICE}>".encode(), delivered
        self.nothing_more()

    def subjects_kept_and_cut_between_words(self):
        words = " ".join("=?UTF-8?B?w6TDtsO8w6TDtsO8?=" for _ in range(8))  # each 28 bytes: the 100th is inside one
        data = message(words, "a.pif").replace(b"Date:", b"Subject: second one\r\nDate:")
        assert self.postfix.send(data) is None
        delivered = self.expect("intercept")[-1]
        subject = header(delivered, "Subject").decode()
        assert subject.startswith("Infected (Program information file) - =?UTF-8?B?") and subject.endswith("?="), subject
        assert len(re.findall(r"^Subject:", delivered.decode(), re.M)) == 1, delivered
        assert header(delivered, "X-Zentry-Original-Subject") == words.encode(), delivered
        self.nothing_more()

    def thousand_long_recipients_intercepted(self):
        recipients = [f"bulk+{number:03d}{'x' * 98}@{DOMAIN}" for number in range(1000)]
        assert all(len(recipient) == 118 for recipient in recipients)
        assert self.postfix.send(message("to a thousand", "a.pif"), recipients) is None
        delivered = self.expect("intercept", seconds=120)[-1]
        field = header(delivered, "X-Zentry-Original-Recipients")
        assert field.startswith(f"<{recipients[0]}>,\t<{recipients[1]}>".encode()) and len(field) <= 4000, field
        kept = field.count(b"<")
        assert field.endswith(b"(%d more, listed in the log)" % (1000 - kept)), field[-200:]
        logged = re.findall(r"recipients \d+-\d+ of 1000: (.*)", self.milter.log())
        assert ", ".join(logged) == ", ".join(f"<{recipient}>" for recipient in recipients)
        self.sent.setdefault("bulk", len(self.postfix.delivered("bulk")))
        self.nothing_more()

    def rules_without_a_rule_refused(self):
        for rules in ("/dev/null", self.rules + ".short"):
            pathlib.Path(self.rules + ".short").write_bytes(b"Label\n\n")
            done = subprocess.run([MILTER, "--socket", f"inet:{free_port()}", "--rules", rules, "--mailbox", INTERCEPT,
                                   "--foreground"], stderr=subprocess.PIPE, timeout=30)
            assert done.returncode == 78 and b"no rule in it" in done.stderr, done
        with open(self.rules, "rb") as kept:
            before = kept.read()
        self.set_rules_failing(b"")
        assert self.postfix.send(message("still caught", "a.pif")) is None
        self.expect("intercept")
        self.set_rules(before)
        self.nothing_more()

    def unknown_local_mailbox_warned(self):
        process = subprocess.Popen([MILTER, "--socket", f"inet:{free_port()}", "--rules", RULES, "--mailbox",
                                    "no-such-box@localhost", "--foreground"], stderr=subprocess.PIPE)
        try:
            assert b"no-such-box@localhost is neither a user nor an alias" in process.stderr.readline()
        finally:
            process.terminate()
            process.wait(timeout=30)

    def stop_lets_message_in_progress_finish(self):
        data = message("finished after the stop", "a.pif")
        with smtplib.SMTP("127.0.0.1", self.postfix.port, timeout=60) as client:
            client.ehlo()
            assert client.mail(SENDER)[0] == 250 and client.rcpt(ALICE)[0] == 250
            client.putcmd("data")
            assert client.getreply()[0] == 354
            client.send(data[:100])
            time.sleep(0.5)  # the milter has the MAIL step (it need not answer it) before the stop
            process = self.milter.process
            process.send_signal(signal.SIGTERM)
            time.sleep(1.5)
            assert process.poll() is None, "the milter did not wait for the message in progress"
            client.send(data[100:] + b"\r\n.\r\n")
            code, text = client.getreply()
        assert code == 250, (code, text)
        assert process.wait(timeout=10) == 0
        self.expect("intercept")
        # Idle, a stop is at once (loosely timed: well under a second, not a benchmark).
        self.milter.start()
        started = time.monotonic()
        assert self.milter.stop() == 0 and time.monotonic() - started < 1, time.monotonic() - started
        self.flows_again(message("after the stop"))

    def stop_wait_is_bounded(self):
        with self.milter.running_with("--stop-wait-seconds", "1"):
            with smtplib.SMTP("127.0.0.1", self.postfix.port, timeout=60) as client:
                client.ehlo()
                assert client.mail(SENDER)[0] == 250 and client.rcpt(ALICE)[0] == 250
                client.putcmd("data")
                assert client.getreply()[0] == 354
                client.send(b"Subject: never finished\r\n")
                time.sleep(0.5)  # the milter has the MAIL step before the stop
                started = time.monotonic()
                assert self.milter.stop() == 0 and time.monotonic() - started < 10
                client.send(b"\r\nbody\r\n.\r\n")
                code, _ = client.getreply()
            assert 400 <= code < 500, code
        assert "1 message(s) unfinished" in self.milter.log()
        self.nothing_more()

    def unprivileged_on_unix_socket_in_chroot(self):
        """As documented for a chrooted Postfix: the socket inside the queue directory, named in main.cf as
        Postfix sees it, the milter started as root and running as a user of its own with that user's groups
        (postfix here, so that Postfix may connect without a group change)."""
        folder = os.path.join(self.postfix.root, "queue", "zentry")
        os.makedirs(folder, exist_ok=True)
        account = pwd.getpwnam("postfix")
        os.chown(folder, account.pw_uid, account.pw_gid)
        socket_file = os.path.join(folder, "milter.sock")
        log = open(os.path.join(self.root, "unix-milter.log"), "ab")
        process = subprocess.Popen([MILTER, "--socket", f"unix:{socket_file}", "--rules", self.rules, "--mailbox",
                                    INTERCEPT, "--foreground", "--user", "postfix"], stderr=log)
        try:
            assert until(lambda: os.path.exists(socket_file), 10)
            assert until(lambda: status_ids(process.pid)[0] == {account.pw_uid}, 10), status_ids(process.pid)
            uids, gids, groups = status_ids(process.pid)
            assert gids == {account.pw_gid} and groups == set(os.getgrouplist("postfix", account.pw_gid)), gids
            assert os.stat(socket_file).st_uid == account.pw_uid
            self.postfix.reconfigure("unix:/zentry/milter.sock", chroot=True)
            assert self.postfix.send(message("through the unix socket", "a.pif")) is None
            self.expect("intercept")
            self.sendmail(message("locally through the unix socket", "a.pif"), ALICE)
            self.release_held()
            self.expect("intercept")
            process.send_signal(signal.SIGTERM)
            assert process.wait(timeout=10) == 0
        finally:
            self.postfix.reconfigure(f"inet:127.0.0.1:{self.milter.port}", chroot=False)
            if process.poll() is None:
                process.kill()
                process.wait(timeout=10)
            log.close()
        self.nothing_more()

    def unix_socket_not_world_writable(self):
        path = os.path.join(self.root, "milter.sock")
        process = subprocess.Popen([MILTER, "--socket", f"unix:{path}", "--rules", RULES, "--mailbox", INTERCEPT,
                                    "--foreground"], stderr=subprocess.DEVNULL)
        try:
            until(lambda: os.path.exists(path), 10)
            assert os.stat(path).st_mode & 0o002 == 0, oct(os.stat(path).st_mode)
        finally:
            process.terminate()
            process.wait(timeout=30)


def own_troubles(postfix_log, milter_log):
    """What went wrong during one check, from each log's lines of that check: the tails of longer logs
    cover only the last checks."""
    pattern = re.compile(r"warning|error|fatal|reject|defer|failed|stopp|listening|unasked", re.I)
    lines = [f"postfix: {line}" for line in postfix_log.splitlines() if pattern.search(line)]
    lines += [f"milter:  {line}" for line in milter_log.splitlines() if pattern.search(line)]
    return "\n".join(["--- this check's troubles"] + lines[:40])


CHECKS = [check for name, check in vars(Checks).items() if not name.startswith("_")]


def main():
    if os.geteuid() != 0:
        print("skipped: a private Postfix needs root")
        return 77
    run(["debconf-set-selections"], b"postfix postfix/main_mailer_type select No configuration\n")
    run([os.path.join(SOURCE, "tools", "ensure-packages.sh"), "postfix", "swaks"])
    root = PrivatePostfix().root  # a scratch directory of the same kind
    shutil.copy(RULES, os.path.join(root, "zentry.dat"))
    milter = Milter(MILTER, root, os.path.join(root, "zentry.dat"), INTERCEPT, "--rules-check-seconds", "1")
    postfix = PrivatePostfix(milter_socket=f"inet:127.0.0.1:{milter.port}")
    failed = 0
    try:
        milter.start()
        postfix.start()
        checks = Checks(postfix, milter, root)
        for check in [c for c in CHECKS if len(sys.argv) <= 4 or c.__name__ in sys.argv[4:]]:
            started = time.monotonic()
            logged = (len(postfix.log()), len(milter.log()))
            try:
                if milter.process is None or milter.process.poll() is not None:
                    milter.start()
                check(checks)
                print(f"ok    {check.__name__} ({time.monotonic() - started:.1f} s)", flush=True)
            except Exception as error:  # noqa: BLE001 - one failing check must not hide the others
                failed += 1
                print(f"FAIL  {check.__name__}: {error!r}"[:3000], flush=True)
                print(own_troubles(postfix.log()[logged[0]:], milter.log()[logged[1]:]), flush=True)
                checks.sent = {user: len(postfix.delivered(user)) for user in checks.sent}
        code = milter.stop()  # a clean stop ends with status 0 (under AddressSanitizer: no leaks either)
        if code != 0:
            failed += 1
            print(f"FAIL  the milter's stop on SIGTERM: exit status {code}")
    finally:
        milter.stop()
        if failed:
            print(f"--- postfix log (tail)\n{postfix.log()[-4000:]}\n--- milter log (tail)\n{milter.log()[-4000:]}")
        postfix.remove()
        shutil.rmtree(root, ignore_errors=True)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
