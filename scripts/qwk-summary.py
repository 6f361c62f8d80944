#!/usr/bin/python3
"""Prints what a QWK packet holds: conferences, messages per conference,
each message's sender and subject, and the attachments listed in
attached.lst.  Reads the archive with Python's zipfile."""
import sys
import zipfile


def member(z, name):
    for n in z.namelist():
        if n.lower() == name.lower():
            return z.read(n)
    return None


def main(path):
    z = zipfile.ZipFile(path)
    control = (member(z, "CONTROL.DAT") or b"").decode("latin-1").split("\r\n")
    print("BBS id (control.dat line 5): %s" % (control[4] if len(control) > 4 else "?"))
    conferences = {}
    if len(control) > 11:
        count = int(control[10]) + 1
        for i in range(count):
            number = control[11 + 2 * i].strip()
            name = control[12 + 2 * i].strip()
            conferences[int(number)] = name
    data = member(z, "MESSAGES.DAT") or b""
    per_conf = {}
    rows = []
    pos = 128
    while pos + 128 <= len(data):
        header = data[pos:pos + 128]
        blocks = int(header[116:122].decode("latin-1").strip() or "1")
        conf = int.from_bytes(header[123:125], "little")
        sender = header[46:71].decode("latin-1").strip()
        subject = header[71:96].decode("latin-1").strip()
        per_conf[conf] = per_conf.get(conf, 0) + 1
        rows.append((conf, sender, subject))
        pos += 128 * max(blocks, 1)
    print("messages: %d" % len(rows))
    for conf, n in sorted(per_conf.items()):
        print("  conference %d (%s): %d message(s)" % (conf, conferences.get(conf, "?"), n))
    for conf, sender, subject in rows:
        print("    [%d] %-25s %s" % (conf, sender, subject))
    attached = member(z, "ATTACHED.LST")
    if attached:
        lines = [l for l in attached.decode("latin-1").split("\r\n") if l.strip()]
        print("attachments (attached.lst): %d" % len(lines))
        for l in lines:
            print("    " + l)
    else:
        print("attachments: none")


if __name__ == "__main__":
    main(sys.argv[1])
