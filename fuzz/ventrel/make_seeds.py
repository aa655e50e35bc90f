#!/usr/bin/env python3
"""Writes the raw responses of the llhttp-response corpus (Markdown files)
as fuzzer seeds: one file per response, prefixed with the piece-size byte."""
import os
import re
import sys


def unescape(text):
    out = []
    i = 0
    while i < len(text):
        c = text[i]
        if c == "\\" and i + 1 < len(text):
            n = text[i + 1]
            if n in "rnt\\\"":
                out.append({"r": "\r", "n": "\n", "t": "\t", "\\": "\\", '"': '"'}[n])
                i += 2
                continue
            if n == "x" and i + 3 < len(text):
                out.append(chr(int(text[i + 2:i + 4], 16)))
                i += 4
                continue
        out.append(c)
        i += 1
    return "".join(out)


def main():
    corpus, out = sys.argv[1], sys.argv[2]
    os.makedirs(out, exist_ok=True)
    count = 0
    for name in sorted(os.listdir(corpus)):
        if not name.endswith(".md"):
            continue
        text = open(os.path.join(corpus, name), encoding="utf-8").read()
        for block in re.findall(r"```http\n(.*?)```", text, re.S):
            lines = block.split("\n")[:-1]
            raw = ""
            for i, line in enumerate(lines):
                join = line.endswith("\\")
                if join:
                    line = line[:-1]
                raw += unescape(line)
                if not join and i + 1 < len(lines):
                    raw += "\r\n"
            for prefix in (b"\x00", b"\xff"):
                count += 1
                with open(os.path.join(out, "seed-%03d" % count), "wb") as f:
                    f.write(prefix + raw.encode("latin-1", "replace"))
    print(count)


if __name__ == "__main__":
    main()
