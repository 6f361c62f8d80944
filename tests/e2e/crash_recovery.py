#!/usr/bin/python3
"""A headless run killed at each phase of a mail retrieval loses nothing and
delivers nothing twice.

A small POP3 server on 127.0.0.1 keeps its mailbox across connections and,
like real servers, commits deletions only when QUIT is answered.  For each
phase (after a RETR, after a DELE, after QUIT, while the packet is written)
and each way to end a process (SIGKILL, SIGTERM), a first
`mailtolvan --headless /a` is ended at that phase; a second run must then
leave every message in exactly one QWK packet and the mailbox empty.

Usage: crash_recovery.py MAILTOLVAN MAILTOLVAN-TOOL
"""
import os
import signal
import socketserver
import subprocess
import sys
import tempfile
import threading
import unittest
import zipfile

MAILTOLVAN = TOOL = None
SUBJECTS = ["Message number %d" % n for n in range(1, 4)]


def message(n):
    return ("From: Ann <ann@example.org>\r\nTo: me@example.org\r\n"
            "Subject: %s\r\nMessage-ID: <m%d@example.org>\r\n"
            "Date: Sun, 6 Dec 2026 10:00:00 +0000\r\n\r\nBody %d\r\n" % (SUBJECTS[n - 1], n, n))


class Mailbox:
    """Messages by uid; deletions commit only at QUIT."""

    def __init__(self, count):
        self.messages = [("uid-%d" % n, message(n)) for n in range(1, count + 1)]
        self.lock = threading.Lock()
        self.trap = None  # (command prefix, "before" | "after")
        self.trapped = threading.Event()


class Handler(socketserver.StreamRequestHandler):
    def reply(self, text):
        self.wfile.write(text.encode("latin-1"))
        self.wfile.flush()

    def handle(self):
        box = self.server.box
        with box.lock:
            view = list(box.messages)  # this session's numbering
        deleted = set()
        self.reply("+OK ready\r\n")
        for raw in self.rfile:
            line = raw.decode("latin-1").rstrip("\r\n")
            words = line.split()
            cmd = words[0].upper() if words else ""
            arg = int(words[1]) if len(words) > 1 and words[1].isdigit() else 0
            trap = box.trap
            hit = trap is not None and line.upper().startswith(trap[0])
            if hit and trap[1] == "before":
                box.trap = None
                box.trapped.set()
                for _ in self.rfile:  # no answer, ever
                    pass
                return
            ok = 1 <= arg <= len(view) and arg not in deleted
            if cmd in ("USER", "PASS"):
                self.reply("+OK\r\n")
            elif cmd == "STAT":
                live = [m for i, m in enumerate(view, 1) if i not in deleted]
                self.reply("+OK %d %d\r\n" % (len(live), sum(len(m[1]) for m in live)))
            elif cmd in ("UIDL", "LIST"):  # the program asks for whole listings only
                rows = "".join("%d %s\r\n" % (i, m[0] if cmd == "UIDL" else len(m[1]))
                               for i, m in enumerate(view, 1) if i not in deleted)
                self.reply("+OK\r\n" + rows + ".\r\n")
            elif cmd == "RETR" and ok:
                body = "".join("." + l if l.startswith(".") else l
                               for l in view[arg - 1][1].splitlines(True))
                self.reply("+OK\r\n" + body + ".\r\n")
            elif cmd == "DELE" and ok:
                deleted.add(arg)
                self.reply("+OK deleted\r\n")
            elif cmd == "RSET":
                deleted.clear()
                self.reply("+OK\r\n")
            elif cmd == "QUIT":
                with box.lock:
                    gone = {view[i - 1][0] for i in deleted}
                    box.messages = [m for m in box.messages if m[0] not in gone]
                self.reply("+OK bye\r\n")
                if hit:
                    box.trap = None
                    box.trapped.set()
                return
            else:
                self.reply("-ERR\r\n")
            if hit:  # an "after" trap on any other command
                box.trap = None
                box.trapped.set()


class Server(socketserver.ThreadingTCPServer):
    daemon_threads = True
    allow_reuse_address = True


def packets(*dirs):
    """Subjects of every message in every QWK packet under the directories."""
    found = []
    for d in dirs:
        for name in sorted(os.listdir(d)):
            if not name.lower().startswith(("tolvan", "home")) or ".qw" not in name.lower():
                continue
            with zipfile.ZipFile(os.path.join(d, name)) as z:
                data = next((z.read(n) for n in z.namelist() if n.lower() == "messages.dat"), b"")
            pos = 128
            while pos + 128 <= len(data):
                header = data[pos:pos + 128]
                found.append(header[71:96].decode("latin-1").strip())
                pos += 128 * max(int(header[116:122].decode("latin-1").strip() or "1"), 1)
    return found


class CrashRecovery(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.home = os.path.join(self.tmp.name, "home")
        self.qwk = os.path.join(self.tmp.name, "qwk")
        os.makedirs(self.qwk)
        self.box = Mailbox(len(SUBJECTS))
        self.server = Server(("127.0.0.1", 0), Handler)
        self.server.box = self.box
        threading.Thread(target=self.server.serve_forever, daemon=True).start()
        self.env = dict(os.environ, MAILTOLVAN_HOME=self.home)
        for s in [("Servers", "POP3Server", "127.0.0.1"),
                  ("Servers", "POP3Port", str(self.server.server_address[1])),
                  ("Servers", "POP3Name", "me"), ("Servers", "NNTPServer", ""),
                  ("Autorun", "AutoEmail", "1"), ("Directories", "Qwk", self.qwk)]:
            self.tool("config", *s)
        self.tool("password", "pop3", stdin="secret\n")

    def tearDown(self):
        self.server.shutdown()
        self.server.server_close()
        self.tmp.cleanup()

    def tool(self, *args, stdin=""):
        subprocess.run([TOOL] + list(args), env=self.env, input=stdin, text=True, check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def run_to_end(self):
        return subprocess.run([MAILTOLVAN, "--headless", "/a"], env=self.env, timeout=60,
                              capture_output=True, text=True)

    def interrupted_run(self, sig, trap=None, during_save=False):
        self.box.trap = trap
        marker = os.path.join(self.tmp.name, "packer-started")
        if during_save:
            # A packer that says it started, then never ends.
            script = os.path.join(self.tmp.name, "packer.sh")
            with open(script, "w") as f:
                f.write("#!/bin/sh\ntouch %s\nexec sleep 600\n" % marker)
            os.chmod(script, 0o755)
            self.tool("config", "Directories", "Packer", script + " %1 %2")
        proc = subprocess.Popen([MAILTOLVAN, "--headless", "/a"], env=self.env,
                                stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True,
                                start_new_session=True)
        try:
            if during_save:
                while not os.path.exists(marker):
                    self.assertIsNone(proc.poll(), "the run ended before saving")
                    threading.Event().wait(0.01)
            else:
                self.assertTrue(self.box.trapped.wait(30), "the phase was never reached")
            proc.send_signal(sig)
            proc.wait(timeout=30)
        finally:
            try:
                os.killpg(proc.pid, signal.SIGKILL)  # the run if it is still there, and the packer
            except ProcessLookupError:
                pass
        self.assertNotEqual(proc.returncode, 0)
        if during_save:
            self.tool("config", "Directories", "Packer", "")

    def check_exactly_once(self):
        second = self.run_to_end()
        self.assertEqual(second.returncode, 0, second.stderr)
        self.assertEqual(sorted(packets(self.qwk, self.home)), sorted(SUBJECTS), second.stderr)
        self.assertEqual(self.box.messages, [], "every message is deleted on the server")
        third = self.run_to_end()
        self.assertEqual(third.returncode, 0, third.stderr)
        self.assertEqual(sorted(packets(self.qwk, self.home)), sorted(SUBJECTS))


    def phase(self, sig, **kw):
        self.interrupted_run(sig, **kw)
        self.check_exactly_once()

    def test_a_second_run_on_the_same_directory_refuses_to_start(self):
        self.box.trap = ("RETR 2", "before")
        first = subprocess.Popen([MAILTOLVAN, "--headless", "/a"], env=self.env,
                                 stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        try:
            self.assertTrue(self.box.trapped.wait(30))
            second = self.run_to_end()
            self.assertNotEqual(second.returncode, 0)
            self.assertIn("already running", second.stderr)
            setting = subprocess.run([TOOL, "config", "Servers", "POP3Name", "other"],
                                     env=self.env, capture_output=True, text=True)
            self.assertNotEqual(setting.returncode, 0)
            self.assertIn("already running", setting.stderr)
        finally:
            first.kill()
            first.wait()
        self.check_exactly_once()


PHASES = {
    "after_retr": dict(trap=("DELE 2", "before")),
    "after_dele": dict(trap=("RETR 2", "before")),
    "after_quit": dict(trap=("QUIT", "after")),
    "during_save": dict(during_save=True),
}
for _name, _kw in PHASES.items():
    for _sig in (signal.SIGKILL, signal.SIGTERM):
        setattr(CrashRecovery, "test_%s_%s" % (_sig.name.lower(), _name),
                lambda self, s=_sig, kw=_kw: self.phase(s, **kw))

if __name__ == "__main__":
    MAILTOLVAN, TOOL = sys.argv[1], sys.argv[2]
    unittest.main(argv=sys.argv[:1] + sys.argv[3:], verbosity=2)
