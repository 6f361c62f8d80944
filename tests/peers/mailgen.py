"""Deterministic test mail and news articles.

Every item is built from its index alone, so two seedings give the same
bytes.  The kinds come round in a fixed order and cover what readers of
mail stumble on: lines that begin with dots (a lone ".", "..", ". "),
"From " at a line start, folded headers, MIME parts in base64 and
quoted-printable, uuencoded files, raw 8-bit text, and a file cut into two
parts.  Items use LF line ends; servers hand them out with CR LF.
"""

import base64
import binascii
import datetime
import hashlib
import quopri

KINDS = ("plain", "mime", "uuencode", "qp", "eightbit", "split")

# Dates: 2024-01-01 10:00 UTC plus one minute per item, written in one of
# four zones so that date parsers see offsets of both signs.
_ZONES = ((0, "+0000"), (120, "+0200"), (-300, "-0500"), (330, "+0530"))
_BASE = datetime.datetime(2024, 1, 1, 10, 0, tzinfo=datetime.timezone.utc)


def _payload(index, size):
    """Pseudo-random bytes, the same for the same arguments."""
    out = b""
    seed = b"payload-%d" % index
    while len(out) < size:
        seed = hashlib.sha256(seed).digest()
        out += seed
    return out[:size]


def _filler(index, lines):
    words = ("alpha", "bravo", "charlie", "delta", "echo", "foxtrot", "golf", "hotel")
    return ["Line %d of item %d: %s %s %s." % (n + 1, index, words[(index + n) % 8],
            words[(index * 3 + n) % 8], words[(n * 5) % 8]) for n in range(lines)]


def _uuencode(data, name):
    out = ["begin 644 " + name]
    for i in range(0, len(data), 45):
        out.append(binascii.b2a_uu(data[i:i + 45]).decode("ascii").rstrip("\n"))
    out += ["`", "end"]
    return out


def build(index, kind=None, prefix="mail", newsgroups=None, pad=0, with_date=True):
    """Returns (sizes and hash with CR LF, bytes with LF line ends) of item `index` (1-based).

    With `newsgroups` the item is a news article (Newsgroups header, no To).
    `pad` adds filler lines until the body has at least that many bytes.
    """
    kind = kind or KINDS[(index - 1) % len(KINDS)]
    mid = "<%s.%d@peers.test>" % (prefix, index)
    subject = "%s %d: %s sample" % (prefix, index, kind)
    head = ["From: Seeder <seeder@peers.test>",
            "Newsgroups: " + newsgroups if newsgroups else "To: Alice Example <alice@peers.test>"]
    head += ["Subject: " + subject, "Message-ID: " + mid]
    if with_date:
        minutes, zone = _ZONES[index % len(_ZONES)]
        local = _BASE + datetime.timedelta(minutes=index + minutes)
        head.append("Date: " + local.strftime("%a, %d %b %Y %H:%M:%S ") + zone)
    head += ["X-Seed-Kind: " + kind,
             "X-Folded: first part of a header",
             "\tthat goes on over",
             "  three lines"]
    body = []
    if kind == "plain":
        body = ["Plain text item %d." % index, "",
                ".signature-like line with one leading dot",
                "..two leading dots",
                ".",
                ". a dot and a blank",
                "From the start of a line",
                ">From quoted",
                "trailing blanks   ",
                "", "The end."]
    elif kind == "mime":
        data = _payload(index, 700 + index % 300)
        name = "data-%d.bin" % index
        head += ["MIME-Version: 1.0",
                 'Content-Type: multipart/mixed; boundary="=-b%d"' % index]
        body = ["This is a multi-part message in MIME format.", "",
                "--=-b%d" % index, "Content-Type: text/plain; charset=us-ascii", "",
                "Text part of item %d." % index, "",
                "--=-b%d" % index, "Content-Type: application/octet-stream",
                "Content-Transfer-Encoding: base64",
                'Content-Disposition: attachment; filename="%s"' % name, ""]
        enc = base64.b64encode(data).decode("ascii")
        body += [enc[i:i + 76] for i in range(0, len(enc), 76)]
        body += ["", "--=-b%d--" % index]
    elif kind == "uuencode":
        data = _payload(index, 400 + index % 200)
        name = "uu-%d.bin" % index
        body = ["A uuencoded file follows.", ""] + _uuencode(data, name) + ["", "Text after end."]
    elif kind == "qp":
        text = ("Caf\xe9 na\xefve r\xe9sum\xe9 = equals, and a rather long line that a "
                "quoted-printable encoder has to break with a soft line break. \n"
                "Trailing space here \n").encode("iso-8859-1")
        head += ["MIME-Version: 1.0", "Content-Type: text/plain; charset=iso-8859-1",
                 "Content-Transfer-Encoding: quoted-printable"]
        body = quopri.encodestring(text).decode("ascii").rstrip("\n").split("\n")
    elif kind == "eightbit":
        head += ["MIME-Version: 1.0", "Content-Type: text/plain; charset=utf-8",
                 "Content-Transfer-Encoding: 8bit"]
        body = ["R\u00e4ksm\u00f6rg\u00e5s \u20ac \u00df \u65e5\u672c\u8a9e item %d" % index]
    elif kind == "split":
        data = _payload(index, 1800)
        name = "split-%d.bin" % index
        lines = _uuencode(data, name)
        half = len(lines) // 2
        subject += " %s [1/2]" % name
        head[2] = "Subject: " + subject
        body = lines[:half]
    else:
        raise ValueError("unknown kind " + kind)
    body += _filler(index, 3)
    text = "\n".join(head) + "\n\n" + "\n".join(body) + "\n"
    raw = text.encode("utf-8")
    if pad and len(raw) < pad:
        extra = []
        n = 0
        while len(raw) + sum(len(x) + 1 for x in extra) < pad:
            n += 1
            extra.append("Padding line %d of item %d, so that the message reaches its size." % (n, index))
        raw += ("\n".join(extra) + "\n").encode("ascii")
    crlf = raw.replace(b"\n", b"\r\n")
    return {"crlf_size": len(crlf), "crlf_sha256": hashlib.sha256(crlf).hexdigest()}, raw
