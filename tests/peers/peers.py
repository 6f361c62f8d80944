#!/usr/bin/python3
"""Private loopback servers for the network tests.

    peers.py start [--dir DIR] [--port-base B|auto] [--messages N] [--articles N]
                   [--pad BYTES] [--only pop3,nntp,smtp] [--smtp-auth]
                   [--install] [--tls]
    peers.py stop  [--dir DIR] [--wipe]
    peers.py seed-nntp --port P --group G --count N [--prefix P]
    peers.py smtp-sink --dir DIR --port P [--auth USER:PASS] [--reject-rcpt TEXT]

start builds a fresh tree in DIR and runs there, on 127.0.0.1 only:
  POP3  dovecot: user alice/secret (N seeded mails) and scratch users s1..s5
        with password "scratch" whose mailboxes the tests fill
  NNTP  INN (innd + nnrpd) as user news, with the groups local.test.*
  SMTP  an aiosmtpd sink that keeps every message and its envelope
and writes DIR/state.env (KEY=VALUE lines) for the tests.

With --tls a private CA is made in DIR/tls, and every server also speaks TLS
with a certificate for localhost and 127.0.0.1: STLS/STARTTLS on the plain
port (the SMTP sink requires it before AUTH) and implicit TLS on a port of
its own.  The other certificates (expired, for another host, from an unknown
issuer) are for the tests' own small servers.  No server of the system is
touched.  Must run as root (dovecot and INN change users), with Debian's
/usr/bin/python3 (where aiosmtpd is installed).
"""

import argparse
import json
import os
import pwd
import shutil
import signal
import socket
import subprocess
import sys
import time
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import mailgen  # noqa: E402

HOST = "127.0.0.1"
MARKER = ".mt-peers"
INNBIN = "/usr/lib/news/bin"
SCRATCH_USERS = ["s%d" % i for i in range(1, 6)]
SCRATCH_PASS = "scratch"
# alpha: threaded, every fifth crossposted to beta, 3 and 4 cancelled; beta: one
# article of each kind; big: --articles; post: for the posting tests;
# local.test.new is made at start (NEWGROUPS finds it)
GROUPS = ["local.test.alpha", "local.test.beta", "local.test.big", "local.test.post"]


def log(text):
    print("peers: " + text, flush=True)


def die(text):
    print("peers: ERROR: " + text, file=sys.stderr, flush=True)
    sys.exit(1)


# ---------------------------------------------------------------- processes

def alive(pid):
    """Exists and is not a zombie (the container's init may never reap)."""
    try:
        with open("/proc/%d/status" % pid) as f:
            for line in f:
                if line.startswith("State:"):
                    return "Z" not in line.split()[1]
    except (OSError, ValueError):
        return False
    return False


def wait_for(cond, seconds, step=0.02):
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        if cond():
            return True
        time.sleep(step)
    return cond()


def port_open(port):
    try:
        with socket.create_connection((HOST, port), timeout=0.5):
            return True
    except OSError:
        return False


def port_free(port):
    s = socket.socket()
    try:
        s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        s.bind((HOST, port))
        return True
    except OSError:
        return False
    finally:
        s.close()


def await_daemon(name, pidfile, port, logs):
    """The pid of a server that forked away, once it listens on its port."""
    if not wait_for(lambda: os.path.exists(pidfile) and os.path.getsize(pidfile) > 0, 15):
        die("%s wrote no pid file; see %s" % (name, logs))
    pid = int(open(pidfile).read().split()[0])
    if not wait_for(lambda: port_open(port) or not alive(pid), 15) or not alive(pid):
        die("%s did not open port %d; see %s" % (name, port, logs))
    return pid


def need_port(port, what):
    if not wait_for(lambda: port_open(port), 15):
        die("%s did not open port %d" % (what, port))


def read_state(d):
    state = {}
    try:
        with open(os.path.join(d, "state.env")) as f:
            for line in f:
                line = line.strip()
                if line and not line.startswith("#") and "=" in line:
                    k, v = line.split("=", 1)
                    state[k] = v.strip('"')
    except OSError:
        pass
    return state


def run_as_news(args, innconf, **kw):
    return subprocess.run(["runuser", "-u", "news", "--", "env", "INNCONF=" + innconf] + args, **kw)


def run_daemon(args, logfile, **kw):
    """Starts a server that forks away, its output to its log: ctest waits for
    the end of ours, and a daemon holding it open would make that wait forever."""
    with open(logfile, "ab") as log_fd:
        return subprocess.run(args, stdin=subprocess.DEVNULL, stdout=log_fd, stderr=log_fd,
                              check=True, **kw)


# ---------------------------------------------------------------- TLS

def openssl(args, cwd):
    subprocess.run(["openssl"] + args, cwd=cwd, check=True, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL)


def make_certificates(d):
    """A private CA and the certificates the tests need, all on loopback names."""
    t = os.path.join(d, "tls")
    os.makedirs(t)
    days = ["-days", "3650"]
    openssl(["req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", "ca.key", "-out",
             "ca.pem", "-subj", "/CN=Mail Tolvan Test CA"] + days, t)
    openssl(["req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", "rogue-ca.key", "-out",
             "rogue-ca.pem", "-subj", "/CN=Unknown Test CA"] + days, t)

    def leaf(name, cn, san, ca="ca", start=None, end=None):
        openssl(["req", "-newkey", "rsa:2048", "-nodes", "-keyout", name + ".key", "-out",
                 name + ".csr", "-subj", "/CN=" + cn], t)
        with open(os.path.join(t, name + ".ext"), "w") as f:
            f.write("subjectAltName=%s\nbasicConstraints=CA:FALSE\n"
                    "extendedKeyUsage=serverAuth\n" % san)
        if start is None:
            openssl(["x509", "-req", "-in", name + ".csr", "-CA", ca + ".pem", "-CAkey",
                     ca + ".key", "-CAcreateserial", "-out", name + ".pem", "-extfile",
                     name + ".ext"] + days, t)
            return
        # Dates in the past need the ca command and a small database.
        db = os.path.join(t, "db-" + name)
        os.makedirs(os.path.join(db, "new"))
        open(os.path.join(db, "index.txt"), "w").close()
        with open(os.path.join(db, "serial"), "w") as f:
            f.write("1000\n")
        with open(os.path.join(t, name + ".cnf"), "w") as f:
            f.write("[ca]\ndefault_ca=c\n[c]\ndir=%s\ndatabase=$dir/index.txt\n"
                    "new_certs_dir=$dir/new\nserial=$dir/serial\ndefault_md=sha256\n"
                    "policy=p\ncopy_extensions=none\n[p]\ncommonName=supplied\n" % db)
        openssl(["ca", "-batch", "-config", name + ".cnf", "-cert", ca + ".pem", "-keyfile",
                 ca + ".key", "-in", name + ".csr", "-out", name + ".pem", "-startdate",
                 start, "-enddate", end, "-extfile", name + ".ext", "-notext"], t)

    local = "DNS:localhost,IP:127.0.0.1"
    leaf("server", "localhost", local)
    leaf("otherhost", "mail.other.test", "DNS:mail.other.test")
    leaf("expired", "localhost", local, start="20200101000000Z", end="20210101000000Z")
    leaf("rogue", "localhost", local, ca="rogue-ca")
    for name in os.listdir(t):
        os.chmod(os.path.join(t, name), 0o644)
    os.chmod(t, 0o755)
    fp = subprocess.run(["openssl", "x509", "-in", os.path.join(t, "server.pem"), "-noout",
                         "-fingerprint", "-sha256"], capture_output=True, text=True,
                        check=True).stdout.strip().split("=", 1)[1]
    return {"TLS_DIR": t, "TLS_CA": os.path.join(t, "ca.pem"),
            "TLS_SERVER_FINGERPRINT": fp}


# ---------------------------------------------------------------- POP3

def seed_maildir(maildir, count, prefix, pad=0, manifest=None):
    pw = pwd.getpwnam("mail") if os.geteuid() == 0 else None
    for sub in ("", "new", "cur", "tmp"):
        p = os.path.join(maildir, sub)
        os.makedirs(p, exist_ok=True)
        if pw:
            os.chown(p, pw.pw_uid, pw.pw_gid)
    out = open(manifest, "a") if manifest else None
    stamp = int(time.time())
    for i in range(1, count + 1):
        info, raw = mailgen.build(i, prefix=prefix, pad=pad)
        # dovecot numbers new mail in the order of these names
        name = "%d.M%07dP%d.mt-peers" % (stamp, i, os.getpid())
        tmp = os.path.join(maildir, "tmp", name)
        with open(tmp, "wb") as f:
            f.write(raw)
        if pw:
            os.chown(tmp, pw.pw_uid, pw.pw_gid)
        os.rename(tmp, os.path.join(maildir, "new", name))
        if out:
            out.write(json.dumps(info) + "\n")
    if out:
        out.close()


def start_pop3(d, port, a):
    p = os.path.join(d, "pop3")
    for sub in ("run", "state", "log", "home"):
        os.makedirs(os.path.join(p, sub))
    mail = pwd.getpwnam("mail")
    users = [("alice", "secret")] + [(u, SCRATCH_PASS) for u in SCRATCH_USERS]
    with open(os.path.join(p, "passwd"), "w") as f:
        for u, pw in users:
            f.write("%s:{PLAIN}%s::::::\n" % (u, pw))
    conf = os.path.join(p, "dovecot.conf")
    with open(conf, "w") as f:
        f.write("""# private POP3 server of the tests
protocols = pop3
listen = {host}
base_dir = {p}/run
state_dir = {p}/state
log_path = {p}/log/dovecot.log
{ssl}
disable_plaintext_auth = no
auth_mechanisms = plain login
# failed logins answer at once (the tests try wrong passwords on purpose)
auth_failure_delay = 0
default_internal_user = dovecot
default_login_user = dovenull
first_valid_uid = {uid}
first_valid_gid = {gid}
mail_location = maildir:~/Maildir
passdb {{
  driver = passwd-file
  args = scheme=PLAIN username_format=%u {p}/passwd
}}
userdb {{
  driver = static
  args = uid={uid} gid={gid} home={p}/home/%u
}}
service anvil {{
  unix_listener anvil-auth-penalty {{
    mode = 0
  }}
}}
service pop3-login {{
  inet_listener pop3 {{
    address = {host}
    port = {port}
  }}
  inet_listener pop3s {{
    address = {host}
    port = {pop3s}
  }}
}}
""".format(host=HOST, p=p, uid=mail.pw_uid, gid=mail.pw_gid, port=port,
           pop3s=a.tls_ports["pop3s"] if a.tls else 0,
           ssl=("ssl = yes\nssl_cert = <{t}/server.pem\nssl_key = <{t}/server.key\n"
                "ssl_min_protocol = TLSv1.2".format(t=os.path.join(d, "tls"))) if a.tls
           else "ssl = no"))
    for u, _ in users:
        seed_maildir(os.path.join(p, "home", u, "Maildir"), 0, "none")
    manifest = os.path.join(p, "manifest-alice.jsonl")
    open(manifest, "w").close()
    if a.messages > 0:
        seed_maildir(os.path.join(p, "home", "alice", "Maildir"), a.messages, "mail",
                     pad=a.pad, manifest=manifest)
    for root, dirs, files in os.walk(os.path.join(p, "home")):
        for n in dirs + files:
            os.chown(os.path.join(root, n), mail.pw_uid, mail.pw_gid)
    run_daemon(["dovecot", "-c", conf], os.path.join(p, "log", "start.log"))
    pid = await_daemon("dovecot", os.path.join(p, "run", "master.pid"), port,
                       os.path.join(p, "log", "dovecot.log"))
    state = {
        "POP3_PORT": port, "POP3_PID": pid, "POP3_USER": "alice", "POP3_PASS": "secret",
        "POP3_SCRATCH_USERS": " ".join(SCRATCH_USERS), "POP3_SCRATCH_PASS": SCRATCH_PASS,
        "POP3_MESSAGES": a.messages, "POP3_HOME": os.path.join(p, "home"),
        "POP3_MANIFEST": manifest, "POP3_MAIL_UID": mail.pw_uid, "POP3_MAIL_GID": mail.pw_gid,
    }
    if a.tls:
        need_port(a.tls_ports["pop3s"], "dovecot (POP3S)")
        state["POP3S_PORT"] = a.tls_ports["pop3s"]
    return state


# ---------------------------------------------------------------- NNTP

class NntpClient:
    """Just enough NNTP to post: raw socket, no library."""

    def __init__(self, port, user=None, password=None):
        self.sock = socket.create_connection((HOST, port), timeout=60)
        self.rd = self.sock.makefile("rb")
        greeting = self.line()
        if not greeting.startswith(("200", "201")):
            raise RuntimeError("greeting: " + greeting)
        if user:
            r = self.cmd("AUTHINFO USER " + user)
            if r.startswith("381"):
                r = self.cmd("AUTHINFO PASS " + password)
            if not r.startswith("281"):
                raise RuntimeError("AUTHINFO: " + r)

    def line(self):
        b = self.rd.readline()
        if not b:
            raise RuntimeError("connection closed")
        return b.decode("utf-8", "replace").rstrip("\r\n")

    def cmd(self, text):
        self.sock.sendall(text.encode() + b"\r\n")
        return self.line()

    def post(self, raw):
        r = self.cmd("POST")
        if not r.startswith("340"):
            return r
        out = []
        for ln in raw.split(b"\n")[:-1] if raw.endswith(b"\n") else raw.split(b"\n"):
            out.append((b"." + ln) if ln.startswith(b".") else ln)
        self.sock.sendall(b"\r\n".join(out) + b"\r\n.\r\n")
        return self.line()

    def close(self):
        try:
            self.cmd("QUIT")
        except (OSError, RuntimeError):
            pass
        self.sock.close()


def seed_group(port, group, count, prefix, threads=False, crosspost=None, kinds=None,
               with_date=True):
    c = NntpClient(port)
    refused = 0
    try:
        for i in range(1, count + 1):
            groups = group
            if crosspost and i % 5 == 0:
                groups = group + "," + crosspost
            kind = kinds[(i - 1) % len(kinds)] if kinds else None
            _, raw = mailgen.build(i, kind=kind, prefix=prefix, newsgroups=groups,
                                   with_date=with_date)
            if threads and i > 1:
                parent = "<%s.%d@peers.test>" % (prefix, (i - 1) // 2 + 1 if i > 2 else 1)
                head, body = raw.split(b"\n\n", 1)
                head = head.replace(b"Subject: ", b"Subject: Re: ", 1)
                raw = head + b"\nReferences: " + parent.encode() + b"\n\n" + body
            r = c.post(raw)
            if not r.startswith("240"):
                refused += 1
                log("%s: article %d refused: %s" % (group, i, r))
    finally:
        c.close()
    return refused


def start_nntp(d, port, a):
    n = os.path.join(d, "nntp")
    innconf = os.path.join(n, "etc", "inn.conf")
    for sub in ("etc", "db", "run", "log", "tmp", "http", "spool/articles", "spool/overview",
                "spool/incoming/tmp", "spool/outgoing", "spool/archive"):
        os.makedirs(os.path.join(n, sub))
    # Debian's files for what is not written here (control.ctl, expire.ctl ...)
    for name in os.listdir("/etc/news"):
        src = os.path.join("/etc/news", name)
        if os.path.isfile(src):
            shutil.copy(src, os.path.join(n, "etc", name))
    paths = {"pathnews": n, "pathbin": INNBIN, "pathcontrol": INNBIN + "/control",
             "pathfilter": n + "/etc/filter", "pathetc": n + "/etc", "pathdb": n + "/db",
             "pathrun": n + "/run", "pathlog": n + "/log", "pathhttp": n + "/http",
             "pathtmp": n + "/tmp", "pathspool": n + "/spool",
             "patharticles": n + "/spool/articles", "pathoverview": n + "/spool/overview",
             "pathincoming": n + "/spool/incoming", "pathoutgoing": n + "/spool/outgoing",
             "patharchive": n + "/spool/archive"}
    settings = [("organization", '"Loopback test server"'), ("pathhost", "peers.test"),
                ("domain", "peers.test"), ("fromhost", "peers.test"), ("server", HOST),
                ("bindaddress", HOST), ("port", port), ("nnrpdpostport", port),
                ("runasuser", "news"), ("runasgroup", "news"), ("mta", '"/bin/true %s"'),
                ("mailcmd", "/bin/true"), ("ovmethod", "tradindexed"), ("hismethod", "hisv6"),
                ("enableoverview", "true"), ("allownewnews", "true"),
                # articles dated 2024 would be refused as too old otherwise
                ("artcutoff", 0), ("pgpverify", "false"), ("doinnwatch", "false"),
                ("docancels", "all"), ("noreader", "false"), ("readerswhenstopped", "false"),
                ("maxconnections", 100), ("nnrpdloadlimit", 0), ("nicekids", 0),
                ("nicennrpd", 0), ("status", 0), ("timer", 0)] + sorted(paths.items())
    if a.tls:
        t = os.path.join(d, "tls")
        settings += [("tlscafile", t + "/ca.pem"), ("tlscertfile", t + "/server.pem"),
                     ("tlskeyfile", n + "/etc/server.key")]
    with open(innconf, "w") as f:
        f.write("# private NNTP server of the tests\n")
        for k, v in settings:
            f.write("%s: %s\n" % (k, v))
    etc = os.path.join(n, "etc")
    # no feed peers: every loopback connection is a reader handed to nnrpd
    open(os.path.join(etc, "incoming.conf"), "w").write("streaming: true\nmax-connections: 8\n")
    open(os.path.join(etc, "newsfeeds"), "w").write("ME:*,!junk,!control*/!local::\n")
    open(os.path.join(etc, "storage.conf"), "w").write(
        "method tradspool {\n    newsgroups: *\n    class: 0\n}\n")
    h = subprocess.run(["openssl", "passwd", "-6", "secret"], capture_output=True, text=True,
                       check=True).stdout.strip()
    open(os.path.join(etc, "newsusers"), "w").write("alice:%s\n" % h)
    # a login is taken, and not needed
    open(os.path.join(etc, "readers.conf"), "w").write(
        'auth "loopback" {\n    hosts: "localhost, 127.0.0.1, ::1, stdin"\n'
        '    auth: "ckpasswd -f %s/newsusers"\n    default: "<localhost>"\n}\n'
        'access "everyone" {\n    users: "*"\n    newsgroups: "*"\n    access: RPAN\n}\n' % etc)
    db = os.path.join(n, "db")
    old = int(time.time()) - 30 * 86400
    with open(os.path.join(db, "active"), "w") as act, \
            open(os.path.join(db, "active.times"), "w") as times:
        for g in ("control", "control.cancel", "control.checkgroups", "control.newgroup",
                  "control.rmgroup", "junk"):
            act.write("%s 0000000000 0000000001 n\n" % g)
        for g in GROUPS:
            act.write("%s 0000000000 0000000001 y\n" % g)
            # made "a month ago": NEWGROUPS since yesterday lists only local.test.new
            times.write("%s %d seeder@peers.test\n" % (g, old))
    for name in ("newsgroups", "history"):
        open(os.path.join(db, name), "w").close()
    subprocess.run(["chown", "-R", "news:news", n], check=True)
    subprocess.run(["chown", "-R", "root:root", etc], check=True)
    subprocess.run(["chmod", "-R", "a+rX", etc], check=True)
    if a.tls:
        # nnrpd wants its key readable by news only
        key = os.path.join(etc, "server.key")
        shutil.copy(os.path.join(d, "tls", "server.key"), key)
        subprocess.run(["chown", "news:news", key], check=True)
        os.chmod(key, 0o600)
    run_as_news([INNBIN + "/makedbz", "-i", "-o"], innconf, cwd=db, check=True)
    run_daemon(["runuser", "-u", "news", "--", "env", "INNCONF=" + innconf, INNBIN + "/innd"],
               os.path.join(n, "log", "start.log"), cwd=n)
    pid = await_daemon("innd", os.path.join(n, "run", "innd.pid"), port, os.path.join(n, "log"))
    run_as_news([INNBIN + "/ctlinnd", "-s", "newgroup", "local.test.new", "y",
                 "seeder@peers.test"], innconf, check=True)
    bad = seed_group(port, "local.test.alpha", 20, "local-test-alpha", threads=True,
                     crosspost="local.test.beta")
    bad += seed_group(port, "local.test.beta", len(mailgen.KINDS), "local-test-beta")
    bad += seed_group(port, "local.test.new", 3, "local-test-new", kinds=["plain"],
                      with_date=False)
    if a.articles > 0:
        bad += seed_group(port, "local.test.big", a.articles, "local-test-big")
    if bad:
        die("%d articles were refused while seeding" % bad)
    for i in (3, 4):
        run_as_news([INNBIN + "/ctlinnd", "-s", "cancel", "<local-test-alpha.%d@peers.test>" % i],
                    innconf, check=True)
    state = {
        "NNTP_PORT": port, "NNTP_PID": pid, "NNTP_USER": "alice", "NNTP_PASS": "secret", "NNTP_ARTICLES_BIG": a.articles,
        "NNTP_GROUPS": " ".join(GROUPS + ["local.test.new"]), "INNCONF": innconf,
    }
    if a.tls:
        # Implicit TLS: a standalone nnrpd that starts TLS on every connection.
        state["NNTPS_PORT"] = nntps = a.tls_ports["nntps"]
        run_daemon(["runuser", "-u", "news", "--", "env", "INNCONF=" + innconf,
                    INNBIN + "/nnrpd", "-D", "-b", HOST, "-p", str(nntps), "-S"],
                   os.path.join(n, "log", "nnrpd-tls.log"), cwd=n)
        need_port(nntps, "nnrpd (NNTPS)")
    return state


# ---------------------------------------------------------------- SMTP

def start_smtp(d, port, a):
    m = os.path.join(d, "smtp")
    os.makedirs(m)
    args = [sys.executable, os.path.abspath(__file__), "smtp-sink", "--dir", m,
            "--port", str(port), "--reject-rcpt", "reject"]
    if a.smtp_auth:
        args += ["--auth", "alice:secret"]
    if a.tls:
        t = os.path.join(d, "tls")
        args += ["--tls-cert", t + "/server.pem", "--tls-key", t + "/server.key",
                 "--tls-port", str(a.tls_ports["smtps"])]
    with open(os.path.join(m, "sink.log"), "w") as lf:
        proc = subprocess.Popen(args, stdin=subprocess.DEVNULL, stdout=lf, stderr=lf,
                                start_new_session=True)
    if not wait_for(lambda: port_open(port) or proc.poll() is not None, 15) or proc.poll() is not None:
        die("the SMTP sink did not start; see " + os.path.join(m, "sink.log"))
    state = {"SMTP_PORT": port, "SMTP_PID": proc.pid, "SMTP_STORE": m}
    if a.tls:
        need_port(a.tls_ports["smtps"], "the SMTP sink (SMTPS)")
        state["SMTPS_PORT"] = a.tls_ports["smtps"]
    return state


def smtp_sink(a):
    import asyncio
    from aiosmtpd.smtp import SMTP, AuthResult, LoginPassword

    store = os.path.join(a.dir, "messages")
    os.makedirs(store, exist_ok=True)
    envelopes = open(os.path.join(a.dir, "envelopes.jsonl"), "a", buffering=1)
    creds = tuple(a.auth.split(":", 1)) if a.auth else None
    count = [0]

    class Handler:
        async def handle_RCPT(self, server, session, envelope, address, options):
            if a.reject_rcpt and a.reject_rcpt in address:
                return "550 5.1.1 <%s>: recipient refused" % address
            envelope.rcpt_tos.append(address)
            return "250 2.1.5 OK"

        async def handle_DATA(self, server, session, envelope):
            count[0] += 1
            data = envelope.original_content or b""
            name = "%06d.eml" % count[0]
            with open(os.path.join(store, name + ".tmp"), "wb") as f:
                f.write(data)
            os.rename(os.path.join(store, name + ".tmp"), os.path.join(store, name))
            user = (session.auth_data.login.decode()
                    if isinstance(session.auth_data, LoginPassword) else None)
            envelopes.write(json.dumps({
                "file": "messages/" + name, "mail_from": envelope.mail_from,
                "rcpt_tos": envelope.rcpt_tos, "auth_user": user}) + "\n")
            return "250 2.0.0 queued as %06d" % count[0]

    def check(server, session, envelope, mechanism, auth_data):
        ok = (creds is not None and isinstance(auth_data, LoginPassword) and
              (auth_data.login.decode(), auth_data.password.decode()) == creds)
        return AuthResult(success=ok, handled=False, auth_data=auth_data if ok else None)

    kw = {}
    tls = None
    if a.tls_cert:
        import ssl
        tls = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
        tls.load_cert_chain(a.tls_cert, a.tls_key)
        kw["tls_context"] = tls
    if creds:
        # with TLS on, a login is taken only on an encrypted connection
        kw.update(authenticator=check, auth_require_tls=bool(tls), auth_required=True)

    loop = asyncio.new_event_loop()
    asyncio.set_event_loop(loop)

    def serve(port, ssl=None, **opts):
        return loop.run_until_complete(loop.create_server(
            lambda: SMTP(Handler(), hostname="peers.test", decode_data=False,
                         enable_SMTPUTF8=True, **opts), HOST, port, ssl=ssl))
    servers = [serve(a.port, **kw)]
    if tls and a.tls_port:
        implicit = dict(kw, auth_require_tls=False)
        del implicit["tls_context"]
        servers.append(serve(a.tls_port, ssl=tls, **implicit))
    stop = asyncio.Event()
    for sig in (signal.SIGTERM, signal.SIGINT):
        loop.add_signal_handler(sig, stop.set)
    loop.run_until_complete(stop.wait())
    for s in servers:
        s.close()
        loop.run_until_complete(s.wait_closed())


# ---------------------------------------------------------------- start/stop

def choose_ports(d, base):
    # derived from the directory, so two build trees rarely meet; moved on
    # while any of the three ports is taken
    b = 20000 + (zlib.crc32(d.encode()) % 300) * 100 if base == "auto" else int(base)
    for _ in range(60):
        ports = {"pop3": b + 110, "nntp": b + 119, "smtp": b + 25}
        if base != "auto" or all(port_free(p) for p in ports.values()):
            return ports
        b = b + 100 if b < 50000 else 20000
    die("no free ports found")


def stop(d, wipe=False):
    state = read_state(d)
    innconf = state.get("INNCONF", "")
    nntp_pid = int(state.get("NNTP_PID") or 0)
    if nntp_pid and alive(nntp_pid):
        # the orderly way: innd flushes history and overview
        run_as_news([INNBIN + "/ctlinnd", "-t", "10", "shutdown", "tests done"], innconf,
                    stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        wait_for(lambda: not alive(nntp_pid), 5, 0.05)
    for key in ("NNTP_PID", "POP3_PID", "SMTP_PID"):
        pid = int(state.get(key) or 0)
        if not pid or not alive(pid):
            continue
        os.kill(pid, signal.SIGTERM)
        port = int(state.get(key.replace("_PID", "_PORT")) or 0)

        def gone():
            # innd notices a signal only when its select() wakes: a
            # connection wakes it
            if key == "NNTP_PID" and port:
                port_open(port)
            return not alive(pid)
        if not wait_for(gone, 10, 0.1):
            log("%s %d ignored SIGTERM; killing it" % (key, pid))
            os.kill(pid, signal.SIGKILL)
    # nnrpd processes serving open connections outlive innd; they carry this
    # tree's INNCONF in their environment
    if innconf:
        want = ("INNCONF=" + innconf).encode()
        for name in os.listdir("/proc"):
            if not name.isdigit():
                continue
            try:
                with open("/proc/%s/environ" % name, "rb") as f:
                    if want in f.read().split(b"\0"):
                        os.kill(int(name), signal.SIGTERM)
            except OSError:
                pass
    if wipe and os.path.exists(os.path.join(d, MARKER)):
        shutil.rmtree(d, ignore_errors=True)
    elif os.path.exists(os.path.join(d, "state.env")):
        os.rename(os.path.join(d, "state.env"), os.path.join(d, "state.stopped"))


def start(a):
    if os.geteuid() != 0:
        die("must run as root (dovecot and INN run their parts as other users)")
    if a.install:
        r = subprocess.run(["bash", os.path.join(HERE, "install.sh")])
        if r.returncode != 0:
            die("installing the servers failed")
    want = set(a.only.split(","))
    if "pop3" in want and not shutil.which("dovecot"):
        die("dovecot is missing: run %s/install.sh" % HERE)
    if "nntp" in want and not os.path.exists(INNBIN + "/innd"):
        die("inn2 is missing: run %s/install.sh" % HERE)
    if "smtp" in want and subprocess.run([sys.executable, "-c", "import aiosmtpd"],
                                         stderr=subprocess.DEVNULL).returncode:
        die("python3-aiosmtpd is missing: run %s/install.sh" % HERE)
    d = os.path.abspath(a.dir)
    if d in ("/", "/tmp", "/root", "/home") or len(d) > 60:
        die("refusing --dir %s (a directory of its own with a short path, please)" % d)
    if os.path.exists(d):
        if os.listdir(d) and not os.path.exists(os.path.join(d, MARKER)):
            die("%s is not empty and was not made by this script" % d)
        stop(d)          # whatever an interrupted run left behind
        shutil.rmtree(d)
    os.makedirs(d)
    open(os.path.join(d, MARKER), "w").close()
    os.chmod(d, 0o755)
    ports = choose_ports(d, a.port_base)
    a.tls_ports = {"pop3s": ports["pop3"] + 885, "nntps": ports["nntp"] + 444,
                   "smtps": ports["smtp"] + 440}
    t0 = time.monotonic()
    state = {"PEERS_DIR": d, "PEERS_HOST": HOST}
    try:
        if a.tls:
            state.update(make_certificates(d))
        if "pop3" in want:
            state.update(start_pop3(d, ports["pop3"], a))
            log("POP3 on %s:%d" % (HOST, ports["pop3"]))
        if "nntp" in want:
            state.update(start_nntp(d, ports["nntp"], a))
            log("NNTP on %s:%d" % (HOST, ports["nntp"]))
        if "smtp" in want:
            state.update(start_smtp(d, ports["smtp"], a))
            log("SMTP on %s:%d" % (HOST, ports["smtp"]))
    except BaseException:
        write_state(d, state)
        stop(d)
        raise
    write_state(d, state)
    log("up in %.2f s; state in %s/state.env" % (time.monotonic() - t0, d))


def write_state(d, state):
    tmp = os.path.join(d, "state.env.tmp")
    with open(tmp, "w") as f:
        f.write("# written by peers.py; KEY=VALUE, readable by sh\n")
        for k, v in state.items():
            v = str(v)
            f.write('%s=%s\n' % (k, '"%s"' % v if " " in v else v))
    os.chmod(tmp, 0o644)
    os.rename(tmp, os.path.join(d, "state.env"))


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    sub = ap.add_subparsers(dest="cmd", required=True)
    s = sub.add_parser("start")
    t = sub.add_parser("stop")
    for p in (s, t):
        p.add_argument("--dir", default=os.environ.get("MT_PEERS_DIR", "/tmp/mt-peers"))
    t.add_argument("--wipe", action="store_true")
    s.add_argument("--port-base", default="auto")
    s.add_argument("--messages", type=int, default=25)
    s.add_argument("--articles", type=int, default=200)
    s.add_argument("--pad", type=int, default=0, help="pad each seeded mail to this many bytes")
    s.add_argument("--only", default="pop3,nntp,smtp")
    for flag in ("--smtp-auth", "--install", "--tls"):
        s.add_argument(flag, action="store_true")
    n = sub.add_parser("seed-nntp")
    n.add_argument("--port", type=int, required=True)
    n.add_argument("--group", required=True)
    n.add_argument("--count", type=int, required=True)
    n.add_argument("--prefix", default="more")
    k = sub.add_parser("smtp-sink")
    k.add_argument("--dir", required=True)
    k.add_argument("--port", type=int, required=True)
    k.add_argument("--auth")
    k.add_argument("--reject-rcpt")
    k.add_argument("--tls-cert")
    k.add_argument("--tls-key")
    k.add_argument("--tls-port", type=int)
    a = ap.parse_args()
    if a.cmd == "start":
        start(a)
    elif a.cmd == "stop":
        stop(os.path.abspath(a.dir), a.wipe)
    elif a.cmd == "seed-nntp":
        sys.exit(1 if seed_group(a.port, a.group, a.count, a.prefix) else 0)
    elif a.cmd == "smtp-sink":
        smtp_sink(a)


if __name__ == "__main__":
    main()
