"""A private Postfix instance, for the milter tests and benchmarks.

Everything lives under one temporary directory: configuration, queue, data,
log file and the delivered mailboxes (one maildir per user of USERS
 at zentry.test, delivered by virtual(8) as the unprivileged user nobody).
USER+anything@zentry.test reaches USER; team@zentry.test reaches alice and
bob. localhost is a local domain whose aliases send each user to its
mailbox, so address forms only a local domain takes (%, !, [127.0.0.1])
can be tried.
smtpd listens on 127.0.0.1 on a free port; the system's /etc/postfix is never
read or written. Needs root (the master process starts as root).
"""

import contextlib
import json
import os
import pwd
import re
import shutil
import signal
import smtplib
import socket
import subprocess
import tempfile
import time

DOMAIN = "zentry.test"
# The mailboxes the instance delivers to; other recipients are refused.
USERS = ["sender", "alice", "bob", "carol", "intercept", "bulk"]

MASTER_CF = """\
{smtp}    inet  n - n - - smtpd
pickup    unix  n - n 60 1 pickup
cleanup   unix  n - n - 0 cleanup
qmgr      unix  n - n 300 1 qmgr
rewrite   unix  - - n - - trivial-rewrite
bounce    unix  - - n - 0 bounce
defer     unix  - - n - 0 bounce
trace     unix  - - n - 0 bounce
verify    unix  - - n - 1 verify
flush     unix  n - n 1000? 0 flush
proxymap  unix  - - n - - proxymap
showq     unix  n - n - - showq
error     unix  - - n - - error
retry     unix  - - n - - error
discard   unix  - - n - - discard
smtp      unix  - - n - - smtp
relay     unix  - - n - - smtp
local     unix  - n n - - local
virtual   unix  - n n - - virtual
anvil     unix  - - n - 1 anvil
scache    unix  - - n - 1 scache
postlog   unix-dgram n - n - 1 postlogd
"""


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def wait_for_port(port, seconds):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        try:
            with socket.create_connection(("127.0.0.1", port), timeout=1):
                return True
        except OSError:
            time.sleep(0.1)
    return False


def running(pid):
    """True while the process lives (a zombie left for a reaper counts as gone)."""
    try:
        with open(f"/proc/{pid}/stat") as stat:
            return stat.read().rsplit(")", 1)[1].split()[0] != "Z"
    except OSError:
        return False


class PrivatePostfix:
    def __init__(self, milter_socket=None, chroot=False):
        self.root = tempfile.mkdtemp(prefix="zentry-postfix-")
        os.chmod(self.root, 0o755)
        self.config = os.path.join(self.root, "etc")
        self.mail = os.path.join(self.root, "mail")
        self.log_file = os.path.join(self.root, "maillog")
        self.port = free_port()
        self.milter_socket = milter_socket
        self.chroot = chroot  # smtpd, cleanup and pickup chrooted to the queue, as Debian runs them
        self.started = False

    def _write_config(self):
        for folder in (self.config, self.mail, os.path.join(self.root, "queue"), os.path.join(self.root, "data")):
            os.makedirs(folder)
        owner = pwd.getpwnam("postfix")
        os.chown(os.path.join(self.root, "data"), owner.pw_uid, owner.pw_gid)
        nobody = pwd.getpwnam("nobody")
        os.chown(self.mail, nobody.pw_uid, nobody.pw_gid)
        self._write_files()

    def reconfigure(self, milter_socket, chroot):
        """Another milter socket, smtpd and cleanup chrooted or not; takes effect at once."""
        self.milter_socket, self.chroot = milter_socket, chroot
        self._write_files()
        self.postfix("reload")
        time.sleep(1)  # the running processes finish what they do and start again

    def _write_files(self):
        nobody = pwd.getpwnam("nobody")
        milter = ""
        if self.milter_socket:
            milter = (f"smtpd_milters = {self.milter_socket}\n"
                      "non_smtpd_milters = $smtpd_milters\n"
                      "milter_default_action = tempfail\n"
                      "milter_protocol = 6\n"
                      # zentry-milter reads only the queue id: no other macros to send.
                      "milter_connect_macros =\nmilter_helo_macros =\nmilter_mail_macros =\n"
                      "milter_rcpt_macros =\nmilter_data_macros =\nmilter_end_of_header_macros =\n"
                      "milter_unknown_command_macros =\nmilter_end_of_data_macros = i\n")
        with open(os.path.join(self.config, "main.cf"), "w") as main_cf:
            main_cf.write(f"""\
compatibility_level = 3.6
queue_directory = {self.root}/queue
data_directory = {self.root}/data
maillog_file = {self.log_file}
maillog_file_prefixes = {self.root}
mail_owner = postfix
setgid_group = postdrop
myhostname = mx.{DOMAIN}
mydomain = {DOMAIN}
myorigin = {DOMAIN}
mydestination = localhost
alias_maps = texthash:{self.config}/aliases
alias_database =
local_recipient_maps = $alias_maps
recipient_delimiter = +
virtual_alias_maps = texthash:{self.config}/virtual
inet_interfaces = 127.0.0.1
inet_protocols = ipv4
mynetworks = 127.0.0.0/8
smtpd_banner = $myhostname ESMTP
biff = no
smtputf8_enable = no
disable_dns_lookups = yes
smtp_dns_support_level = disabled
message_size_limit = 0
mailbox_size_limit = 0
virtual_mailbox_limit = 0
smtpd_client_connection_count_limit = 0
default_process_limit = 100
virtual_mailbox_domains = {DOMAIN}
virtual_mailbox_base = {self.mail}
virtual_mailbox_maps = texthash:{self.config}/mailboxes
virtual_uid_maps = static:{nobody.pw_uid}
virtual_gid_maps = static:{nobody.pw_gid}
queue_run_delay = 1s
minimal_backoff_time = 1s
maximal_backoff_time = 2s
{milter}""")
        with open(os.path.join(self.config, "mailboxes"), "w") as maps:
            maps.writelines(f"{user}@{DOMAIN} {user}/\n" for user in USERS)
        with open(os.path.join(self.config, "aliases"), "w") as aliases:
            aliases.writelines(f"{user} {user}@{DOMAIN}\n" for user in USERS)
        with open(os.path.join(self.config, "virtual"), "w") as virtual:
            virtual.write(f"team@{DOMAIN} alice@{DOMAIN}, bob@{DOMAIN}\n")
        with open(os.path.join(self.config, "master.cf"), "w") as master_cf:
            master_cf.write(self.master_cf())

    def master_cf(self):
        text = MASTER_CF.format(smtp=f"127.0.0.1:{self.port}")
        if self.chroot:
            for service in ("smtpd", "cleanup", "pickup"):
                text = re.sub(rf"^(\S+ +\S+ +\S+ +\S+ +)n( .* {service})$", r"\1y\2", text, flags=re.M)
        return text

    def postfix(self, *arguments, check=True):
        return subprocess.run(["postfix", "-c", self.config, *arguments], check=check,
                              stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=60)

    def start(self):
        self._write_config()
        self.postfix("start")
        self.started = True
        if not wait_for_port(self.port, 30):
            raise RuntimeError("postfix did not listen:\n" + self.log())

    def stop(self):
        if self.started:
            master = self._master_pid()
            self.postfix("stop", check=False)
            # master lets its children finish; wait for it, a bounded while.
            deadline = time.monotonic() + 20
            while master and running(master) and time.monotonic() < deadline:
                time.sleep(0.05)
            self.started = False

    def _master_pid(self):
        try:
            with open(os.path.join(self.root, "queue", "pid", "master.pid")) as pid_file:
                return int(pid_file.read().strip())
        except (OSError, ValueError):
            return None

    def remove(self):
        self.stop()
        shutil.rmtree(self.root, ignore_errors=True)

    def log(self):
        try:
            with open(self.log_file, errors="replace") as log:
                return log.read()
        except OSError:
            return ""

    def delivered(self, user):
        """The messages in user's maildir, oldest first, as bytes."""
        folder = os.path.join(self.mail, user, "new")
        if not os.path.isdir(folder):
            return []
        names = sorted(os.listdir(folder), key=lambda name: os.stat(os.path.join(folder, name)).st_mtime_ns)
        result = []
        for name in names:
            with open(os.path.join(folder, name), "rb") as message:
                result.append(message.read())
        return result

    def send(self, data, recipients=(f"alice@{DOMAIN}",), sender=f"sender@{DOMAIN}"):
        """Sends one message over SMTP; returns the server's refusal (code, text), or None."""
        try:
            with smtplib.SMTP("127.0.0.1", self.port, timeout=60) as client:
                client.sendmail(sender, list(recipients), data)
            return None
        except smtplib.SMTPResponseException as error:
            return error.smtp_code, error.smtp_error
        except smtplib.SMTPRecipientsRefused as error:
            return list(error.recipients.values())[0]

    def queue(self):
        """The queued messages, as postqueue -j describes them."""
        listing = subprocess.run(["postqueue", "-c", self.config, "-j"], stdout=subprocess.PIPE,
                                 stderr=subprocess.DEVNULL, timeout=30).stdout
        return [json.loads(line) for line in listing.splitlines() if line.strip()]

    @staticmethod
    def wait_until(condition, seconds):
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline:
            if condition():
                return True
            time.sleep(0.2)
        return condition()


class Milter:
    """zentry-milter in the foreground on a loopback port beside a PrivatePostfix, its log in a file under
    `root`; every start passes the command line's options, then `extra`."""

    def __init__(self, binary, root, rules, mailbox, *options):
        self.port, self.process, self.log_path = free_port(), None, os.path.join(root, "milter.log")
        self.command = [binary, "--socket", f"inet:{self.port}", "--rules", rules, "--mailbox", mailbox,
                        "--foreground", *options]

    def start(self, *extra):
        with open(self.log_path, "ab") as log:
            self.process = subprocess.Popen(self.command + list(extra), stderr=log)
        if not wait_for_port(self.port, 20):
            raise AssertionError("the milter did not listen:\n" + self.log())

    def stop(self, how=signal.SIGTERM):
        """Stops the milter; returns its exit status (None when it was not running)."""
        process, self.process = self.process, None
        if not process or process.poll() is not None:
            return None
        process.send_signal(how)
        try:
            return process.wait(timeout=30)
        except subprocess.TimeoutExpired:
            process.kill()
            return process.wait(timeout=10)

    @contextlib.contextmanager
    def running_with(self, *extra):
        """The milter restarted with `extra` for a while, then as before."""
        self.stop()
        self.start(*extra)
        try:
            yield
        finally:
            self.stop()
            self.start()

    def log(self):
        with open(self.log_path, errors="replace") as log:
            return log.read()
