#!/usr/bin/env python3
"""Writes a file of text and machine code interleaved, from real files of this
machine: text files of /usr/share (no zero byte in them) alternate with ELF
files of /usr/lib and /usr/bin, each tree walked in sorted order, until the
size is reached. The same machine gives the same bytes. Text-only and
binary-only files come from the same walks with --kind.

Usage: bench/make_mixed.py OUT [--mb 100] [--kind mixed|text|binary]
"""
import argparse
import os

FILE_LIMIT = 16 << 20


def walk(tops):
    for top in tops:
        for dirpath, dirs, files in os.walk(top):
            dirs.sort()
            for name in sorted(files):
                path = os.path.join(dirpath, name)
                try:
                    if os.path.islink(path) or not os.path.isfile(path):
                        continue
                    size = os.path.getsize(path)
                    if size == 0 or size > FILE_LIMIT:
                        continue
                    with open(path, "rb") as f:
                        data = f.read()
                except OSError:
                    continue
                yield data


def texts():
    return (d for d in walk(["/usr/share"]) if b"\0" not in d)


def binaries():
    return (d for d in walk(["/usr/lib", "/usr/bin"]) if d[:4] == b"\x7fELF")


def write(path, size, kind="mixed"):
    """size bytes of the kind into path."""
    sources = {"mixed": [texts(), binaries()], "text": [texts()], "binary": [binaries()]}[kind]
    left = size
    with open(path, "wb") as out:
        # Alternate by bytes, not by files: the next piece comes from whichever
        # kind has given less so far, so both halves are about equal.
        given = [0] * len(sources)
        while left and sources:
            turn = given.index(min(given))
            data = next(sources[turn], None)
            if data is None:
                del sources[turn], given[turn]
                continue
            data = data[:left]
            out.write(data)
            given[turn] += len(data)
            left -= len(data)
    if left:
        raise SystemExit("make_mixed: only %d bytes found" % (size - left))


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("out")
    ap.add_argument("--mb", type=int, default=100)
    ap.add_argument("--kind", choices=("mixed", "text", "binary"), default="mixed")
    args = ap.parse_args()
    write(args.out, args.mb << 20, args.kind)


if __name__ == "__main__":
    main()
