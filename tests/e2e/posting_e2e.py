#!/usr/bin/python3
"""mailtolvan --headless /a posting REP packets to the real SMTP sink and INN
of tests/peers, packets built here byte by byte as offline readers write them.

Every reply must arrive whole: Python's email package must read from each
message the text, recipients, subject and attachment bytes that went in.  The
REP file is deleted only when every reply was sent; a run after a partial
failure sends only what was left.

Usage: posting_e2e.py MAILTOLVAN MAILTOLVAN-TOOL   (MT_PEERS_DIR names the servers)
"""
import email
import email.policy
import json
import os
import secrets
import subprocess
import sys
import tempfile
import unittest
import zipfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "peers"))
import peers  # noqa: E402

MAILTOLVAN = TOOL = None
STATE = peers.read_state(os.environ.get("MT_PEERS_DIR", ""))


# ------------------------------------------------------------------ packets

def field(text, width):
    return text.encode("cp437")[:width].ljust(width) if isinstance(text, str) else \
        text[:width].ljust(width)


def reply(status, conference, to, subject, lines):
    """One reply as MultiMail writes it: number field with a leading blank,
    0xE3 line ends, blank padding, conference also in bytes 123-124."""
    text = b"".join(line + b"\xe3" for line in lines)
    blocks = (len(text) + 127) // 128
    text = text.ljust(blocks * 128, b" ")
    h = bytearray(b" " * 128)
    h[0:1] = status
    h[1:8] = field(" %d" % conference, 7)
    h[8:16] = b"12-06-26"
    h[16:21] = b"14:07"
    h[21:46] = field(to, 25)
    h[46:71] = field("TEST USER", 25)
    h[71:96] = field(subject, 25)
    h[108:116] = field(" 2", 8)
    h[116:122] = field(str(blocks + 1), 6)
    h[122] = 0xE1
    h[123:125] = conference.to_bytes(2, "little")
    return bytes(h) + text


def write_rep(path, replies, dat=None, files=None):
    with zipfile.ZipFile(path, "w") as z:
        z.writestr("TOLVAN.MSG", b"TOLVAN".ljust(128) + b"".join(replies))
        if dat is not None:
            z.writestr("TOLVAN.DAT", dat)
        for name, data in (files or {}).items():
            z.writestr(name, data)


def content(part):
    """A text part's content with LF line ends (it travels with CR LF)."""
    return part.get_content().replace("\r\n", "\n")


def text_of(lines, codec="cp437"):
    """What a reply's body must read as once it arrives."""
    return "".join(line.decode(codec).rstrip(" ") + "\n" for line in lines)


# ------------------------------------------------------------------ servers

def sink_messages(token):
    """(envelope, message) of every mail the sink kept with the token in its subject."""
    out = []
    store = STATE["SMTP_STORE"]
    with open(os.path.join(store, "envelopes.jsonl")) as f:
        for line in f:
            env = json.loads(line)
            with open(os.path.join(store, env["file"]), "rb") as m:
                msg = email.message_from_bytes(m.read(), policy=email.policy.default)
            if token in str(msg["subject"]):
                out.append((env, msg))
    return out


def news(token):
    """The articles of local.test.post whose overview line holds the token."""
    c = peers.NntpClient(int(STATE["NNTP_PORT"]))

    def block():
        lines = iter(lambda: c.rd.readline().rstrip(b"\r\n"), b".")
        return [ln[1:] if ln.startswith(b"..") else ln for ln in lines]
    try:
        if not c.cmd("GROUP local.test.post").startswith("211") or \
                not c.cmd("XOVER 1-").startswith("224"):
            return []
        found = []
        for n in [ln.split(b"\t")[0].decode() for ln in block() if token.encode() in ln]:
            if c.cmd("ARTICLE " + n).startswith("220"):
                raw = b"\r\n".join(block()) + b"\r\n"
                found.append(email.message_from_bytes(raw, policy=email.policy.default))
        return found
    finally:
        c.close()


# ------------------------------------------------------------------ the program

class Home:
    def __init__(self):
        self.tmp = tempfile.TemporaryDirectory(prefix="mtpost-")
        self.path = self.tmp.name
        self.rep_dir = os.path.join(self.path, "replies")
        os.mkdir(self.rep_dir)
        self.env = dict(os.environ, MAILTOLVAN_HOME=self.path)
        for args in (("Servers", "SMTPServer", "127.0.0.1"),
                     ("Servers", "SMTPPort", STATE["SMTP_PORT"]),
                     ("Servers", "NNTPServer", "127.0.0.1"),
                     ("Servers", "NNTPPort", STATE["NNTP_PORT"]),
                     ("User", "EmailAddress", "me@peers.test"),
                     ("User", "Name", "Test User"),
                     ("Autorun", "AutoPost", "1"),
                     ("Directories", "Rep", self.rep_dir),
                     ("Groups", "MailingLists", "1")):
            self.config(*args)
        # The packet these replies answer had one mailing list (conference
        # 1) and then local.test.post (conference 2).
        with open(os.path.join(self.path, "TOLVAN.NWS"), "w") as f:
            f.write("0\nlocal.test.post,1,1,0,,\n")

    def config(self, *args):
        r = subprocess.run([TOOL, "config"] + list(args), env=self.env, capture_output=True,
                           text=True)
        assert r.returncode == 0, r.stderr

    def run(self):
        r = subprocess.run([MAILTOLVAN, "--headless", "/a"], env=self.env, capture_output=True,
                           timeout=300)
        return r.returncode, r.stderr.decode("utf-8", "replace")


class Posting(unittest.TestCase):
    def home(self):
        h = Home()
        self.addCleanup(h.tmp.cleanup)
        return h

    def test_a_reader_packet_arrives_whole_and_a_reply_threads(self):
        token = "T" + secrets.token_hex(4)
        home = self.home()
        sender = "Benedict Cumberbatch-Smith <benedict.cumberbatch@peers.test>"
        # The index the program keeps for a saved packet: message 2 of the
        # mail conference, the one the last reply answers.
        os.mkdir(os.path.join(home.path, "PacketIndex"))
        with open(os.path.join(home.path, "PacketIndex", "Tolvan.Qwk.idx"), "w") as f:
            f.write("MTIDX 1\n2\t0\t%s\t%s\t<m2.%s@peers.test>\t<m1@peers.test>\t\n"
                    % (sender, sender, token))
        attachment = bytes(range(256)) * 4
        r1 = [b"Hi Ann,", b"", b"the caf\x82 opens at noon. Gr\x81\xe1e \xb3 \x9c5", b"",
              b"See you.", b" ", b"--- MultiMail/Linux v0.52"]
        long_line = ("long " * 140).strip().encode()
        r2_body = [b"Note: see below", long_line, b"Subject: this line is body text"]
        r2 = [b"To: bob@example.org, carl@example.org", b"Cc: dora@example.org",
              b"Subject: A much longer subject than the header field " + token.encode(),
              b""] + r2_body
        r3 = [b"Hello group,", b"caf\x82 \xb3 box", b"", b"-- ", b"me"]
        r4_body = [b"Folded subject, plain text."]
        r4 = [b"Newsgroups: local.test.post", b"Subject: Folded", b"\tline " + token.encode(),
              b""] + r4_body
        rep = os.path.join(home.rep_dir, "tolvan.rep")
        write_rep(rep, [reply(b"*", 0, "ann@example.org", "Lunch " + token, r1),
                        reply(b"+", 0, "ignored", "ignored", r2),
                        reply(b" ", 2, "ALL", "News " + token, r3),
                        reply(b" ", 2, "ALL", "ignored", r4),
                        reply(b"*", 0, sender[:25], "Re: Hello " + token, [b"Thanks."])],
                  dat=b"ATT1.BIN,bytes.bin\r\n\r\n\r\n\r\n", files={"ATT1.BIN": attachment})
        rc, err = home.run()
        self.assertEqual(rc, 0, err)
        self.assertFalse(os.path.exists(rep), err)

        mails = {str(m["subject"]): (env, m) for env, m in sink_messages(token)}
        self.assertEqual(len(mails), 3, err)
        env, m = mails["Lunch " + token]
        self.assertEqual(env["rcpt_tos"], ["ann@example.org"])
        self.assertEqual(env["mail_from"], "me@peers.test")
        self.assertEqual(content(m.get_body(("plain",))), text_of(r1))
        files = list(m.iter_attachments())
        self.assertEqual(len(files), 1)
        self.assertEqual(files[0].get_filename(), "bytes.bin")
        self.assertEqual(files[0].get_content(), attachment)
        self.assertIn("@", str(m["message-id"]))
        self.assertIsNotNone(m["date"].datetime)

        env, m = mails["A much longer subject than the header field " + token]
        self.assertEqual(env["rcpt_tos"], ["bob@example.org", "carl@example.org",
                                           "dora@example.org"])
        self.assertEqual([a.addr_spec for a in m["to"].addresses],
                         ["bob@example.org", "carl@example.org"])
        self.assertEqual(content(m), text_of(r2_body))

        # The whole address, though the header field held 25 characters.
        env, m = mails["Re: Hello " + token]
        self.assertEqual(env["rcpt_tos"], ["benedict.cumberbatch@peers.test"])
        self.assertEqual(str(m["in-reply-to"]), "<m2.%s@peers.test>" % token)
        self.assertEqual(str(m["references"]).split(),
                         ["<m1@peers.test>", "<m2.%s@peers.test>" % token])

        arts = {str(a["subject"]): a for a in news(token)}
        self.assertEqual(len(arts), 2, arts.keys())
        a = arts["News " + token]
        self.assertEqual(str(a["newsgroups"]), "local.test.post")
        self.assertEqual(content(a), text_of(r3))
        folded = [s for s in arts if s.startswith("Folded")][0]
        self.assertIn("line " + token, folded)
        self.assertEqual(content(arts[folded]), text_of(r4_body))

    def test_a_second_run_sends_only_what_was_left(self):
        token = "T" + secrets.token_hex(4)
        home = self.home()
        home.config("Servers", "NNTPServer", "")
        rep = os.path.join(home.rep_dir, "TOLVAN.REP")
        refused = reply(b"*", 0, "reject@example.org", "Refused " + token, [b"x"])
        fine = reply(b"*", 0, "ok@example.org", "Fine " + token, [b"y"])
        article = reply(b" ", 2, "ALL", "Article " + token, [b"z"])
        write_rep(rep, [refused, fine, article])

        rc, err = home.run()
        self.assertNotEqual(rc, 0)
        self.assertIn("reply 1 (mail to reject@example.org", err)
        self.assertIn("recipient refused", err)
        self.assertIn("reply 3 (news to local.test.post", err)
        self.assertNotIn("reply 2 (", err)
        self.assertTrue(os.path.exists(rep))
        self.assertEqual([str(m["subject"]) for _, m in sink_messages(token)], ["Fine " + token])
        self.assertEqual(news(token), [])

        home.config("Servers", "NNTPServer", "127.0.0.1")
        rc, err = home.run()
        self.assertNotEqual(rc, 0)
        self.assertIn("reply 1 (mail to reject@example.org", err)
        self.assertNotIn("reply 3 (", err)
        self.assertTrue(os.path.exists(rep))
        self.assertEqual(len(sink_messages(token)), 1)
        self.assertEqual(len(news(token)), 1)

        # The reader writes the packet again with the address mended: only
        # that reply goes, and then the file.
        mended = reply(b"*", 0, "mended@example.org", "Refused " + token, [b"x"])
        write_rep(rep, [mended, fine, article])
        rc, err = home.run()
        self.assertEqual(rc, 0, err)
        self.assertFalse(os.path.exists(rep))
        got = sorted(str(m["subject"]) for _, m in sink_messages(token))
        self.assertEqual(got, ["Fine " + token, "Refused " + token])
        self.assertEqual(len(news(token)), 1)

    def test_parts_and_latin1(self):
        token = "T" + secrets.token_hex(4)
        home = self.home()
        home.config("Email", "PostSize", "1")
        home.config("Directories", "ReaderCharset", "Latin-1")
        lines = [("%02d " % i).encode() + b"caf\xe9 " * 9 for i in range(60)]
        rep = os.path.join(home.rep_dir, "Tolvan.Rep")
        write_rep(rep, [reply(b"*", 0, "ann@example.org", "Parts " + token, lines)])
        rc, err = home.run()
        self.assertEqual(rc, 0, err)
        parts = sorted((str(m["subject"]), m) for _, m in sink_messages(token))
        total = len(parts)
        self.assertGreaterEqual(total, 3)
        self.assertEqual([s for s, _ in parts],
                         ["Parts %s -  [%d/%d]" % (token, n, total) for n in range(1, total + 1)])
        self.assertEqual("".join(content(m) for _, m in parts), text_of(lines, "latin-1"))
        self.assertEqual(parts[0][1].get_content_charset(), "iso-8859-1")
        self.assertFalse(os.path.exists(rep))


if __name__ == "__main__":
    MAILTOLVAN, TOOL = sys.argv[1], sys.argv[2]
    unittest.main(argv=sys.argv[:1], verbosity=2)
