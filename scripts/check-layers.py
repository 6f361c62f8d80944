#!/usr/bin/env python3
"""Checks every #include of the program's folders against the layer table.

A folder may include its own headers and those of the folders it builds on
(the table below, which the CMake files follow); anything else, an include
that climbs out with "..", or Qt in a folder that must stay plain C++, is
reported as "file:line: folder -> folder".  Exit 0 when clean, 1 otherwise.
"""
import os
import re
import sys

# folder: (layer, folders it may use directly, may use Qt)
LAYERS = {
    "util": (1, [], False),
    "framework": (2, ["util"], True),
    "core": (3, ["framework"], True),
    "msg": (4, ["util"], False),
    "net": (4, ["core"], True),
    "newsgroups": (4, ["util"], False),
    "proto": (5, ["net", "msg", "framework"], True),
    "packet": (5, ["msg", "newsgroups", "core"], True),
    "dialogs": (5, ["core", "newsgroups"], True),
    "compose": (6, ["proto", "packet", "msg", "core"], True),
    "session": (7, ["compose", "proto", "packet", "newsgroups", "net", "core"], True),
    "mainwin": (8, ["session", "packet", "core"], True),
    "console": (9, ["mainwin"], False),
    "ui": (9, ["mainwin", "dialogs"], True),
    "app": (10, ["ui", "console", "mainwin", "session", "compose", "packet", "proto",
                 "newsgroups", "net", "msg", "core", "dialogs"], True),
}

INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^>"]+)[>"]')
QT = re.compile(r"^Q[A-Z]\w*$|^Qt\w*/")


def reachable(folder):
    """Every folder that `folder` may include: its own and, transitively,
    everything below the folders it builds on."""
    seen, todo = {folder}, [folder]
    while todo:
        for dep in LAYERS[todo.pop()][1]:
            if dep not in seen:
                seen.add(dep)
                todo.append(dep)
    return seen


def check(root):
    faults = []
    for folder in LAYERS:
        top = os.path.join(root, folder)
        if not os.path.isdir(top):
            continue
        allowed = reachable(folder)
        qt_ok = any(LAYERS[f][2] for f in allowed)
        for dirpath, _, names in os.walk(top):
            for name in sorted(names):
                if not name.endswith((".h", ".cpp")):
                    continue
                path = os.path.join(dirpath, name)
                rel = os.path.relpath(path, root)
                with open(path, encoding="utf-8", errors="replace") as f:
                    for no, line in enumerate(f, 1):
                        m = INCLUDE.match(line)
                        if not m:
                            continue
                        kind, target = m.groups()
                        if kind == "<":
                            if QT.match(target) and not qt_ok:
                                faults.append(f"{rel}:{no}: {folder} -> Qt ({target})")
                            continue
                        if ".." in target.split("/"):
                            faults.append(f"{rel}:{no}: {folder} -> {target} (relative path)")
                            continue
                        head = target.split("/")[0] if "/" in target else folder
                        if head in LAYERS and head not in allowed:
                            faults.append(f"{rel}:{no}: {folder} -> {head}")
    return faults


def main():
    root = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..")
    faults = check(os.path.abspath(root))
    for fault in faults:
        print(fault)
    if faults:
        print(f"check-layers: {len(faults)} include(s) against the layer table", file=sys.stderr)
        return 1
    print("check-layers: every include follows the layer table")
    return 0


if __name__ == "__main__":
    sys.exit(main())
