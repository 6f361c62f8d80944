#!/usr/bin/python3
"""Packet benchmark: converts and packs generated retrieved-message files with
`mailtolvan-tool pack` and compares with `cat` of the same bytes and `zip -q`
of the packet files.

  bench/packet_bench.py BUILD_DIR [--quick] [--scratch DIR] [--save-only] [--runs N]

--scratch puts the generated files, the program's directory and the packet
in DIR (for example /dev/shm, to measure the program rather than the disk).

Mail set: N messages (30 % with a base64 attachment, 10 % uuencoded, 10 %
quoted-printable, the rest plain text), about 100 kB each on average.  News
set: small articles spread over G groups.  Each run reports wall seconds,
MB/s of input and the peak resident memory of the tool; the doubling runs
show how time and memory grow with the number of messages and of groups.

Save: the files of the packet of the 2000-message mail set (200 with
--quick) are zipped by the built-in archiver (bench_packet_save, the save
step alone: automatic threads and one thread) and by `zip -q`; medians of
--runs runs (default 5) of wall and CPU seconds, and the sizes.  The goal:
the save takes at most half the time of `zip -q`, its packet at most 5 %
larger.  --save-only runs just this part.
"""
import statistics
import base64
import os
import random
import shutil
import subprocess
import sys
import tempfile
import time


def uuencode(data, name):
    out = ["begin 644 %s" % name]
    for i in range(0, len(data), 45):
        chunk = data[i:i + 45]
        line = chr(32 + len(chunk))
        for j in range(0, len(chunk), 3):
            g = chunk[j:j + 3] + b"\0\0"
            v = (g[0] << 16) | (g[1] << 8) | g[2]
            for s in (18, 12, 6, 0):
                c = (v >> s) & 63
                line += "`" if c == 0 else chr(c + 32)
        out.append(line)
    out += ["`", "end"]
    return "\r\n".join(out) + "\r\n"


def qp_encode(text):
    lines = []
    for raw in text.split("\n"):
        enc = ""
        for ch in raw.encode("utf-8"):
            enc += chr(ch) if 33 <= ch <= 126 and ch != 61 else "=%02X" % ch
        while len(enc) > 75:
            cut = 75
            while enc[cut - 1] == "=" or enc[cut - 2] == "=":
                cut -= 1
            lines.append(enc[:cut] + "=")
            enc = enc[cut:]
        lines.append(enc)
    return "\r\n".join(lines) + "\r\n"


WORDS = ("the quick brown fox jumps over lazy dog mail news packet reader offline "
         "tolvan gather message article group subject reply thanks regards").split()


def text(rng, n_lines):
    return "\r\n".join(" ".join(rng.choice(WORDS) for _ in range(rng.randint(6, 12)))
                       for _ in range(n_lines)) + "\r\n"


def headers(i, subject, group=None):
    h = ["From: Sender %d <sender%d@example.org>" % (i, i),
         "To: joe@example.net",
         "Subject: %s" % subject,
         "Date: Tue, 07 Nov 1995 08:%02d:00 -0500" % (i % 60),
         "Message-ID: <%d.bench@example.org>" % i]
    if group:
        h.append("Newsgroups: %s" % group)
    return "\r\n".join(h) + "\r\n"


def make_mail(dirname, n, seed=1):
    rng = random.Random(seed)
    files = []
    for i in range(n):
        kind = i % 10
        if kind < 3:  # base64 attachment, ~250 kB
            data = rng.randbytes(rng.randint(200_000, 300_000))
            b64 = base64.encodebytes(data).decode().replace("\n", "\r\n")
            body = (headers(i, "file %d" % i) +
                    "MIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=\"BB\"\r\n\r\n"
                    "--BB\r\nContent-Type: text/plain\r\n\r\n" + text(rng, 20) +
                    "--BB\r\nContent-Type: application/octet-stream\r\n"
                    "Content-Transfer-Encoding: base64\r\n"
                    "Content-Disposition: attachment; filename=\"data%d.bin\"\r\n\r\n" % i +
                    b64 + "--BB--\r\n")
        elif kind == 3:  # uuencoded inside text
            data = rng.randbytes(rng.randint(10_000, 30_000))
            body = (headers(i, "uu %d" % i) + "\r\n" + text(rng, 10) +
                    uuencode(data, "file%d.zip" % i))
        elif kind == 4:  # quoted-printable text
            body = (headers(i, "qp %d" % i) +
                    "MIME-Version: 1.0\r\nContent-Type: text/plain; charset=utf-8\r\n"
                    "Content-Transfer-Encoding: quoted-printable\r\n\r\n" +
                    qp_encode(text(rng, 150).replace("\r\n", "\n") + " r\u00e4ksm\u00f6rg\u00e5s"))
        else:  # plain text
            body = headers(i, "plain %d" % i) + "\r\n" + text(rng, rng.randint(40, 120))
        path = os.path.join(dirname, "m%05d.eml" % i)
        with open(path, "wb") as f:
            f.write(body.encode("latin-1", "replace") if kind != 4 else body.encode())
        files.append(path)
    return files


def make_news(dirname, n, groups, seed=2):
    rng = random.Random(seed)
    per_group = {}
    for i in range(n):
        g = "bench.group%04d" % (i % groups)
        body = headers(i, "article %d" % i, g) + "\r\n" + text(rng, rng.randint(5, 25))
        path = os.path.join(dirname, "a%06d.eml" % i)
        with open(path, "wb") as f:
            f.write(body.encode())
        per_group.setdefault(g, []).append(path)
    return per_group


def total_bytes(files):
    return sum(os.path.getsize(f) for f in files)


def timed(argv, env=None):
    """Runs a command under /usr/bin/time; (seconds, peak kB)."""
    res = subprocess.run(["/usr/bin/time", "-f", "%e %M"] + argv, env=env,
                         stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
    if res.returncode != 0:
        sys.exit("failed: %s\n%s" % (" ".join(argv[:4]), res.stderr))
    secs, kb = res.stderr.strip().splitlines()[-1].split()
    return float(secs), int(kb)


def pack(tool, home, out, email=(), news=None):
    argv = [tool, "pack", "--out", out, "--user", "Bench User", "--packet", "Bench"]
    if email:
        argv += ["--email"] + list(email)
    for g, files in (news or {}).items():
        argv += ["--group", g] + files
    env = dict(os.environ, MAILTOLVAN_HOME=home, TZ="UTC")
    return timed(argv, env)


def zip_time(qwk, scratch):
    d = os.path.join(scratch, "unz")
    shutil.rmtree(d, ignore_errors=True)
    os.makedirs(d)
    subprocess.run(["unzip", "-q", qwk, "-d", d], check=True)
    names = sorted(os.listdir(d))
    start = time.monotonic()
    subprocess.run(["zip", "-q", os.path.join(scratch, "ref.zip")] + names, cwd=d, check=True)
    secs = time.monotonic() - start
    os.unlink(os.path.join(scratch, "ref.zip"))
    size = sum(os.path.getsize(os.path.join(d, n)) for n in names)
    shutil.rmtree(d)
    return secs, size


def run_times(argv, cwd=None):
    """(wall seconds, CPU seconds of the children) of one command."""
    before = os.times()
    start = time.monotonic()
    subprocess.run(argv, cwd=cwd, check=True, stdout=subprocess.DEVNULL)
    wall = time.monotonic() - start
    after = os.times()
    cpu = (after.children_user - before.children_user) + (after.children_system -
                                                          before.children_system)
    return wall, cpu


def save_bench(build, tool, scratch, home, n, runs):
    """The save step against `zip -q` on the files of one packet."""
    d = os.path.join(scratch, "save-mail")
    os.makedirs(d)
    files = make_mail(d, n)
    qwk = os.path.join(scratch, "save.qwk")
    pack(tool, home, qwk, email=files)
    shutil.rmtree(d)
    work = os.path.join(scratch, "save-work")
    os.makedirs(work)
    subprocess.run(["unzip", "-q", qwk, "-d", work], check=True)
    names = sorted(os.listdir(work))
    with open(os.path.join(work, "qwkfiles.lst"), "w") as f:
        f.write("".join(name + "\r\n" for name in names))
    size = sum(os.path.getsize(os.path.join(work, name)) for name in names)
    saver = os.path.join(build, "bench", "packet", "bench_packet_save")
    ref = os.path.join(scratch, "ref.zip")
    out = os.path.join(scratch, "saved.qwk")
    kinds = {"zip -q": [], "save": [], "save, 1 thread": []}
    sizes = {}
    for _ in range(runs):
        for label in kinds:
            target = ref if label == "zip -q" else out
            if os.path.exists(target):
                os.unlink(target)
            if label == "zip -q":
                argv, cwd = ["zip", "-q", ref] + names, work
            else:
                argv, cwd = [saver, work, out, "1" if "1 thread" in label else "0"], None
            kinds[label].append(run_times(argv, cwd))
            sizes[label] = os.path.getsize(target)
    print("== save: %d files, %.1f MB, of the %d-message mail packet (median of %d runs)" %
          (len(names), size / 1e6, n, runs))
    med = {}
    for label, times in kinds.items():
        wall = statistics.median(t[0] for t in times)
        cpu = statistics.median(t[1] for t in times)
        med[label] = wall
        print("   %-16s %7.2f s wall %7.2f s CPU %10.1f MB" % (label, wall, cpu, sizes[label] / 1e6))
    ratio = med["save"] / med["zip -q"] if med["zip -q"] else 0
    grow = sizes["save"] / sizes["zip -q"] - 1
    print("   save / zip -q: time x%.2f (goal <= 0.50), size %+.1f %% (goal <= +5 %%)%s" %
          (ratio, 100 * grow, "" if ratio <= 0.5 and grow <= 0.05 else "  ** goal missed **"))
    shutil.rmtree(work)


def cat_time(files):
    start = time.monotonic()
    for i in range(0, len(files), 2000):
        subprocess.run(["cat"] + files[i:i + 2000], stdout=subprocess.DEVNULL, check=True)
    return time.monotonic() - start


def report(label, nbytes, secs, kb, extra=""):
    mb = nbytes / 1e6
    print("%-36s %8.1f MB %7.2f s %7.1f MB/s %7.1f MB peak%s" %
          (label, mb, secs, mb / secs if secs else 0, kb / 1024, extra))


def main():
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    tool = os.path.join(os.path.abspath(sys.argv[1]), "app", "mailtolvan-tool")
    quick = "--quick" in sys.argv
    parent = None
    if "--scratch" in sys.argv:
        parent = sys.argv[sys.argv.index("--scratch") + 1]
    scratch = tempfile.mkdtemp(prefix="mt-packet-bench-", dir=parent)
    print("scratch directory:", scratch)
    try:
        home = os.path.join(scratch, "home")
        os.makedirs(home)
        out = os.path.join(scratch, "Bench.qwk")
        base = 100 if quick else 1000
        runs = 5
        if "--runs" in sys.argv:
            runs = int(sys.argv[sys.argv.index("--runs") + 1])
        save_bench(os.path.abspath(sys.argv[1]), tool, scratch, home, base * 2, runs)
        if "--save-only" in sys.argv:
            return

        print("== mail: %d messages doubling (30%% base64, 10%% uuencode, 10%% QP)" % base)
        results = []
        for n in (base // 2, base, base * 2):
            d = os.path.join(scratch, "mail%d" % n)
            os.makedirs(d)
            files = make_mail(d, n)
            nbytes = total_bytes(files)
            cat_s = cat_time(files)
            secs, kb = pack(tool, home, out, email=files)
            zsecs, zbytes = zip_time(out, scratch)
            report("pack %d mails" % n, nbytes, secs, kb,
                   "  | cat %.2f s | zip -q of %.0f MB packet files %.2f s" %
                   (cat_s, zbytes / 1e6, zsecs))
            results.append((n, secs, kb))
            shutil.rmtree(d)
        for (n0, s0, k0), (n1, s1, k1) in zip(results, results[1:]):
            print("   %d -> %d messages: time x%.2f, peak memory x%.2f" %
                  (n0, n1, s1 / s0 if s0 else 0, k1 / k0 if k0 else 0))

        print("== news: small articles over groups")
        arts = 1000 if quick else 10000
        runs = [(arts, 500), (arts * 2, 500), (arts, 1000)]
        news_results = {}
        for n, groups in runs:
            d = os.path.join(scratch, "news%d_%d" % (n, groups))
            os.makedirs(d)
            per_group = make_news(d, n, groups)
            files = [f for fs in per_group.values() for f in fs]
            nbytes = total_bytes(files)
            cat_s = cat_time(files)
            secs, kb = pack(tool, home, out, news=per_group)
            zsecs, zbytes = zip_time(out, scratch)
            report("pack %d articles / %d groups" % (n, groups), nbytes, secs, kb,
                   "  | cat %.2f s | zip -q %.2f s" % (cat_s, zsecs))
            news_results[(n, groups)] = (secs, kb)
            shutil.rmtree(d)
        s0, k0 = news_results[(arts, 500)]
        s1, k1 = news_results[(arts * 2, 500)]
        s2, k2 = news_results[(arts, 1000)]
        print("   articles doubled: time x%.2f, peak memory x%.2f" % (s1 / s0, k1 / k0))
        print("   groups doubled:   time x%.2f, peak memory x%.2f" % (s2 / s0, k2 / k0))
    finally:
        shutil.rmtree(scratch, ignore_errors=True)


if __name__ == "__main__":
    main()
