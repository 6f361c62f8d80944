#!/usr/bin/env python3
"""Checks the message conversion against a directory of real-world messages.

Run by hand (not by ctest: the messages are not part of the repository):

    scripts/corpus-audit.py [--tool build/app/mailtolvan-tool]
                                 [--corpus DIR] [--verbose] [--only SUBSTRING]

The corpus directory holds index.json and the message files it names.  Each
entry of index.json lists the message's expected parts: name, type, transfer
encoding and the SHA-256 of the decoded bytes.  Every message with expected
parts is run two ways through mailtolvan-tool:

  mime + decode   "mime FILE" gives the leaf parts and their offsets; each
                  leaf's body (after its header block) is decoded with
                  "decode --base64" or "decode --uu", or taken as it stands
                  for 7bit/8bit/binary.
  pack            "pack --out X.qwk --email FILE"; the packet is unzipped and
                  the files listed in attached.lst are the attachments.  Text
                  parts become message text, not files: such a part counts as
                  converted when its text (LF line ends, 0xE3 in the packet)
                  is found in messages.dat.

An expected part matches when some decoded output has its SHA-256 (each output
is used once).  The script prints one line per expected part that does not
match, and the totals by transfer encoding.  Exit status 0 always unless the
tool is missing: mismatches are findings, to be judged one by one.
"""

import argparse
import collections
import hashlib
import json
import os
import quopri
import subprocess
import sys
import tempfile
import zipfile

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)


def sha(data):
    return hashlib.sha256(data).hexdigest()


def run(argv, env=None):
    return subprocess.run(argv, stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=env,
                          timeout=120)


def header_end(data, start, end):
    """Offset just past the empty line ending the header block of the part
    at [start, end), as the converter finds it: the first line that is
    nothing but CR LF.  None when there is none (the whole part is header)."""
    pos = start
    while pos < end:
        nl = data.find(b"\r\n", pos, end)
        if nl < 0:
            return None
        if nl == pos:
            return nl + 2
        pos = nl + 2
    return None


def mime_outputs(tool, path, work):
    """Decoded bytes of each leaf, as (kind, bytes) pairs; plus notes."""
    notes = []
    r = run([tool, "mime", path])
    if r.returncode != 0:
        return [], ["mime failed: " + r.stderr.decode("utf-8", "replace").strip()]
    with open(path, "rb") as f:
        data = f.read()
    outputs = []
    for i, line in enumerate(r.stdout.decode("utf-8", "replace").splitlines()):
        fields = line.split("\t")
        if len(fields) < 5:
            continue
        ctype, enc = fields[0].lower(), fields[1].lower()
        start, end = int(fields[-2]), int(fields[-1])
        body_at = header_end(data, start, end)
        if body_at is None:
            notes.append("leaf %d (%s) has no end of header" % (i + 1, ctype))
            body = b""
        else:
            body = data[body_at:end]
        src = os.path.join(work, "leaf%d.in" % i)
        dst = os.path.join(work, "leaf%d.out" % i)
        with open(src, "wb") as f:
            f.write(body)
        if enc == "base64":
            d = run([tool, "decode", "--base64", src, dst])
            if d.returncode == 0:
                with open(dst, "rb") as f:
                    outputs.append(("base64", f.read()))
            else:
                notes.append("decode --base64 of leaf %d failed" % (i + 1))
        elif enc in ("uuencode", "x-uuencode", "x-uue"):
            d = run([tool, "decode", "--uu", src, dst])
            if d.returncode == 0:
                with open(dst, "rb") as f:
                    outputs.append(("uuencode", f.read()))
            else:
                # No "begin" line: nothing to decode, as the converter
                # leaves an empty attachment file.
                notes.append("leaf %d: %s" % (i + 1, d.stderr.decode("utf-8", "replace").strip()))
                outputs.append(("uuencode (no begin)", b""))
        else:
            # Taken as it stands; a uuencoded file inside the text is
            # decoded as well (the converter turns it into an attachment).
            outputs.append(("raw", body))
            outputs.append(("raw-lf", body.replace(b"\r\n", b"\n")))
            if enc == "quoted-printable":
                # The tool has no quoted-printable decoder: this reference
                # decode only serves to find the text in the packet.
                outputs.append(("qp-reference", quopri.decodestring(body)))
            # decode --uu takes the first file of its input: each "begin"
            # line gets a decode of its own.
            at = 0
            k = 0
            while True:
                at = (b"\n" + body).find(b"\nbegin ", at)
                if at < 0:
                    break
                chunk = os.path.join(work, "leaf%d.uu%d" % (i, k))
                with open(chunk, "wb") as f:
                    f.write(body[at:])
                d = run([tool, "decode", "--uu", chunk, dst])
                if d.returncode == 0:
                    with open(dst, "rb") as f:
                        outputs.append(("in-body uu", f.read()))
                at += 1
                k += 1
    return outputs, notes


def pack_outputs(tool, path, work):
    """(attachment bytes list, messages.dat bytes, notes)."""
    home = os.path.join(work, "home")
    os.makedirs(home, exist_ok=True)
    qwk = os.path.join(work, "x.qwk")
    env = dict(os.environ, MAILTOLVAN_HOME=home, TZ="UTC")
    r = run([tool, "pack", "--out", qwk, "--email", path], env=env)
    if r.returncode != 0:
        return [], b"", ["pack failed: " + r.stderr.decode("utf-8", "replace").strip()]
    attachments = []
    with zipfile.ZipFile(qwk) as z:
        names = {n.upper(): n for n in z.namelist()}
        messages = z.read(names["MESSAGES.DAT"]) if "MESSAGES.DAT" in names else b""
        if "ATTACHED.LST" in names:
            for line in z.read(names["ATTACHED.LST"]).decode("latin-1").splitlines():
                parts = line.split(",")
                if len(parts) >= 3 and parts[2].upper() in names:
                    attachments.append(z.read(names[parts[2].upper()]))
    return attachments, messages, []


def match(expected, outputs):
    """For each expected part the kind of the output that matched, or None."""
    pool = list(outputs)
    result = []
    for e in expected:
        hit = None
        for j, (kind, data) in enumerate(pool):
            if sha(data) == e["sha256"]:
                hit = kind
                del pool[j]
                break
        result.append(hit)
    return result


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--tool", default=os.path.join(ROOT, "build", "app", "mailtolvan-tool"))
    ap.add_argument("--corpus", default="/work/shared/corpus")
    ap.add_argument("--verbose", action="store_true", help="a line for every expected part")
    ap.add_argument("--only", default="", help="only messages whose file name contains this")
    args = ap.parse_args()
    if not os.access(args.tool, os.X_OK):
        sys.exit("no tool at %s (build it or give --tool)" % args.tool)
    with open(os.path.join(args.corpus, "index.json"), encoding="utf-8") as f:
        index = json.load(f)

    totals = collections.defaultdict(lambda: [0, 0, 0])  # cte -> expected, mime ok, pack ok
    messages = 0
    for entry in index["messages"]:
        expected = entry.get("expected") or []
        if not expected or args.only not in entry["file"]:
            continue
        messages += 1
        path = os.path.join(args.corpus, entry["file"])
        with tempfile.TemporaryDirectory(prefix="corpus.") as work:
            mime_out, mime_notes = mime_outputs(args.tool, path, work)
            mime_hits = match(expected, mime_out)
            attachments, dat, pack_notes = pack_outputs(args.tool, path, work)
        pack_hits = match(expected, [("attachment", a) for a in attachments])
        # Text parts go into the message text: look the MIME decode's bytes
        # up in messages.dat.
        for k, e in enumerate(expected):
            if pack_hits[k] or not e["type"].lower().startswith("text/"):
                continue
            for kind, data in mime_out:
                if sha(data) == e["sha256"] and data:
                    qwk_text = data.replace(b"\r\n", b"\n").replace(b"\n", b"\xe3")
                    if qwk_text in dat:
                        pack_hits[k] = "message text"
                    break
                if sha(data) == e["sha256"]:
                    pack_hits[k] = "message text (empty)"
                    break
        # The reference decode is no output of the project's tools.
        mime_hits = [h if h != "qp-reference" else None for h in mime_hits]
        for k, e in enumerate(expected):
            t = totals[e["cte"]]
            t[0] += 1
            t[1] += bool(mime_hits[k])
            t[2] += bool(pack_hits[k])
            if args.verbose or not mime_hits[k] or not pack_hits[k]:
                print("%-4s %-4s %s part %s %s (%s, %d bytes)%s" % (
                    "ok" if mime_hits[k] else "MISS", "ok" if pack_hits[k] else "MISS",
                    entry["file"], e["part"], e["name"], e["cte"], e["size"],
                    "  defects: " + ",".join(entry["defects"]) if entry["defects"] else ""))
                if not mime_hits[k] or not pack_hits[k]:
                    sizes = sorted({len(d) for _, d in mime_out})
                    print("          mime outputs sizes %s; packet attachment sizes %s" % (
                        sizes, sorted(len(a) for a in attachments)))
                    for n in mime_notes + pack_notes:
                        print("          " + n)

    print()
    print("%d messages with expected parts" % messages)
    print("%-18s %8s %14s %8s" % ("encoding", "expected", "mime+decode", "pack"))
    all_ = [0, 0, 0]
    for cte in sorted(totals):
        t = totals[cte]
        print("%-18s %8d %14d %8d" % (cte, t[0], t[1], t[2]))
        for i in range(3):
            all_[i] += t[i]
    print("%-18s %8d %14d %8d" % ("all", all_[0], all_[1], all_[2]))
    return 0


if __name__ == "__main__":
    sys.exit(main())
