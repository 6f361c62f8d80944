#!/usr/bin/python3
"""The window program from outside: without a display, Autorun in the window
against a POP3 server on 127.0.0.1, and the screenshots.

Usage: window_program.py MAILTOLVAN MAILTOLVAN-TOOL MAILTOLVAN-SCREENSHOTS
"""
import os
import struct
import subprocess
import sys
import tempfile
import threading
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "e2e"))
from crash_recovery import SUBJECTS, Handler, Mailbox, Server, packets  # noqa: E402

MAILTOLVAN = TOOL = SCREENSHOTS = None
NO_DISPLAY = ("DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM")


def environment(home, **extra):
    env = {k: v for k, v in os.environ.items() if k not in NO_DISPLAY}
    env["MAILTOLVAN_HOME"] = home
    env.update(extra)
    return env


class WindowProgram(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.home = os.path.join(self.tmp.name, "home")

    def tearDown(self):
        self.tmp.cleanup()

    def test_without_a_display_it_says_how_to_run_headless(self):
        r = subprocess.run([MAILTOLVAN], env=environment(self.home), capture_output=True,
                           text=True, timeout=60)
        self.assertEqual(r.returncode, 2, r.stderr)
        self.assertIn("--headless", r.stderr)
        self.assertFalse(os.path.exists(self.home), "nothing is touched")

    def test_autorun_runs_in_the_window_and_ends(self):
        box = Mailbox(len(SUBJECTS))
        server = Server(("127.0.0.1", 0), Handler)
        server.box = box
        threading.Thread(target=server.serve_forever, daemon=True).start()
        self.addCleanup(server.server_close)
        self.addCleanup(server.shutdown)
        qwk = os.path.join(self.tmp.name, "qwk")
        os.makedirs(qwk)
        env = environment(self.home)
        for s in [("Servers", "POP3Server", "127.0.0.1"),
                  ("Servers", "POP3Port", str(server.server_address[1])),
                  ("Servers", "POP3Name", "me"), ("Servers", "NNTPServer", ""),
                  ("Autorun", "AutoEmail", "1"), ("Directories", "Qwk", qwk),
                  ("Mailtolvan", "Sound", "0")]:
            subprocess.run([TOOL, "config", *s], env=env, check=True, capture_output=True)
        subprocess.run([TOOL, "password", "pop3"], env=env, input="secret\n", text=True,
                       check=True, capture_output=True)
        r = subprocess.run([MAILTOLVAN, "/a"], env=environment(self.home,
                                                                QT_QPA_PLATFORM="offscreen"),
                           capture_output=True, text=True, timeout=120)
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual(sorted(packets(qwk)), sorted(SUBJECTS), r.stderr)
        self.assertEqual(box.messages, [], "the mailbox was emptied")
        # The window showed the progress: the console's lines never appear.
        self.assertNotIn("Retrieving Email messages", r.stderr)

    def test_screenshots_draw_every_window_and_dialog(self):
        out = os.path.join(self.tmp.name, "shots")
        r = subprocess.run([SCREENSHOTS, out], env=environment(self.home,
                                                                QT_QPA_PLATFORM="offscreen"),
                           capture_output=True, text=True, timeout=120)
        self.assertEqual(r.returncode, 0, r.stderr)
        names = set(r.stdout.split())
        expected = {"main-offline", "main-online-email", "window-email", "main-online-news",
                    "window-groups", "window-post", "window-help", "splash",
                    "menu-file", "menu-network", "menu-groups", "menu-articles", "menu-options",
                    "menu-window", "menu-help", "messagebox-error"}
        expected |= {"dialog-" + d for d in (
            "server-info", "personal-info", "directories", "group-options", "article-options",
            "email-options", "general-options", "autorun", "group-settings", "password", "find",
            "add-group", "about")}
        self.assertLessEqual(expected, names)
        for name in names:
            with open(os.path.join(out, name + ".png"), "rb") as f:
                head = f.read(24)
            self.assertEqual(head[:8], b"\x89PNG\r\n\x1a\n", name)
            width, height = struct.unpack(">II", head[16:24])
            self.assertGreater(min(width, height), 40, name)


if __name__ == "__main__":
    MAILTOLVAN, TOOL, SCREENSHOTS = sys.argv[1:4]
    unittest.main(argv=sys.argv[:1], verbosity=2)
