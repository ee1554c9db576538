#!/usr/bin/env python3
"""Fault list helper for run.sh.

  faults.py list  FAULTS SRC [ID...]   ids to run, one a line: "<id> ok|stale <reason>"
  faults.py apply FAULTS SRC ID        applies fault ID; prints the file it changed
  faults.py describe FAULTS ID         prints the fault's one-line description

A snippet is looked up in every file under SRC, so the fault follows the
code when files move; a snippet that is missing or found more than once
(in one file or several) makes the fault stale.
"""
import os
import sys

EXTS = (".cpp", ".h", ".hpp", ".cc", ".inc")


def unescape(text):
    out, i = [], 0
    while i < len(text):
        c = text[i]
        if c == "\\" and i + 1 < len(text):
            n = text[i + 1]
            out.append({"n": "\n", "t": "\t", "\\": "\\"}.get(n, "\\" + n))
            i += 2
        else:
            out.append(c)
            i += 1
    return "".join(out)


def load(path):
    faults = []
    with open(path, encoding="utf-8") as f:
        for no, line in enumerate(f, 1):
            line = line.rstrip("\n")
            if not line.strip() or line.startswith("#"):
                continue
            parts = line.split("\t")
            if len(parts) != 4:
                sys.exit(f"{path}:{no}: expected 4 tab-separated fields, got {len(parts)}")
            fid, desc, orig, repl = parts
            faults.append({"id": fid, "desc": desc, "orig": unescape(orig), "repl": unescape(repl)})
    ids = [f["id"] for f in faults]
    dup = {i for i in ids if ids.count(i) > 1}
    if dup:
        sys.exit(f"{path}: duplicate ids: {', '.join(sorted(dup))}")
    return faults


def sources(src):
    for root, dirs, files in os.walk(src):
        dirs.sort()
        for name in sorted(files):
            if name.endswith(EXTS):
                yield os.path.join(root, name)


def locate(fault, src):
    """(file, None) when the snippet occurs exactly once in src, else (None, reason)."""
    hits = []
    for path in sources(src):
        with open(path, encoding="utf-8", errors="surrogateescape") as f:
            n = f.read().count(fault["orig"])
        if n:
            hits.append((path, n))
    total = sum(n for _, n in hits)
    if total == 0:
        return None, "snippet not found"
    if total > 1:
        return None, "snippet found %d times (%s)" % (total, ", ".join(p for p, _ in hits))
    return hits[0][0], None


def main(argv):
    if len(argv) < 3:
        sys.exit(__doc__)
    cmd, faults = argv[0], load(argv[1])
    by_id = {f["id"]: f for f in faults}
    if cmd == "describe":
        print(by_id[argv[2]]["desc"] if argv[2] in by_id else "")
        return 0
    src = argv[2]
    if cmd == "list":
        wanted = argv[3:] or [f["id"] for f in faults]
        for fid in wanted:
            if fid not in by_id:
                print(f"{fid} stale unknown id")
                continue
            path, why = locate(by_id[fid], src)
            print(f"{fid} ok {path}" if path else f"{fid} stale {why}")
        return 0
    if cmd == "apply":
        fault = by_id[argv[3]]
        path, why = locate(fault, src)
        if not path:
            sys.exit(why)
        with open(path, encoding="utf-8", errors="surrogateescape", newline="") as f:
            text = f.read()
        with open(path, "w", encoding="utf-8", errors="surrogateescape", newline="") as f:
            f.write(text.replace(fault["orig"], fault["repl"], 1))
        print(path)
        return 0
    sys.exit(__doc__)


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
