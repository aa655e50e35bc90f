#!/usr/bin/env python3
"""Writes the seeds of the page fuzz targets from the pages the tests use:
the string literals of the test sources that hold markup (adjacent literals
joined, escapes read as the compiler reads them).

    python3 fuzz/pages/make_seeds.py          (from the source root)

seeds/htmlview/   one byte of viewer settings, then the page as UTF-8
seeds/node_tree/  the page, alone (walked as the script prefix walks it) or
                  followed by a NUL and calls (see node_tree_fuzzer.cpp)
"""
import hashlib
import os
import re
import shutil

SOURCES = [
    "tests/ambrel/node_tree_test.cpp",
    "tests/ambrel/code_object_test.cpp",
    "tests/ambrel/fetch_program_test.cpp",
    "tests/htmlview/htmlview_test.cpp",
    "tests/htmlview/htmlview_pictures_test.cpp",
    "tests/htmlview/article_support.h",
    "tests/quillet/reading/page_test.cpp",
    "tests/quillet/reading/view_test.cpp",
    "tests/refresh/page_images_test.cpp",
    "tests/refresh/run_test.cpp",
]
PER_TARGET = 40
MAX_BYTES = 4096

LITERAL = re.compile(r'(?:u8|u|U|L)?R"([^(\s]*)\((.*?)\)\1"|(?:u8|u|U|L)?"((?:\\.|[^"\\\n])*)"', re.S)
GAP = re.compile(r"(?:\s|//[^\n]*\n|/\*.*?\*/)*", re.S)
MARKUP = re.compile(r"<[A-Za-z!/]")


def unescape(body):
    out = []
    i = 0
    while i < len(body):
        c = body[i]
        if c != "\\" or i + 1 >= len(body):
            out.append(c)
            i += 1
            continue
        n = body[i + 1]
        simple = {"n": "\n", "r": "\r", "t": "\t", "f": "\f", "v": "\v", "0": "\0", "\\": "\\", '"': '"', "'": "'",
                  "?": "?", "a": "\a", "b": "\b"}
        if n == "x":
            m = re.match(r"[0-9A-Fa-f]+", body[i + 2:])
            out.append(chr(int(m.group(0), 16)))
            i += 2 + len(m.group(0))
        elif n in "uU":
            width = 4 if n == "u" else 8
            out.append(chr(int(body[i + 2:i + 2 + width], 16)))
            i += 2 + width
        elif n in simple:
            out.append(simple[n])
            i += 2
        else:
            out.append(n)
            i += 2
    return "".join(out)


def literals(text):
    """Runs of adjacent string literals, each joined into one string."""
    pos = 0
    while True:
        m = LITERAL.search(text, pos)
        if not m:
            return
        # Skip literals inside comments and character literals.
        line_start = text.rfind("\n", 0, m.start()) + 1
        if "//" in text[line_start:m.start()]:
            pos = m.end()
            continue
        parts = []
        end = m.start()
        while m and m.start() == end:
            parts.append(m.group(2) if m.group(2) is not None else unescape(m.group(3)))
            end = GAP.match(text, m.end()).end()
            m = LITERAL.match(text, end)
        yield "".join(parts)
        pos = end


def encode(page):
    # Lone surrogates of the tests' pages stay as they are written (WTF-8).
    return page.encode("utf-8", "surrogatepass")


def pages():
    by_file = []
    for path in SOURCES:
        if not os.path.exists(path):
            continue
        found = []
        for s in literals(open(path, encoding="utf-8").read()):
            data = encode(s)
            if MARKUP.search(s) and 12 <= len(data) <= MAX_BYTES and data not in found:
                found.append(data)
        by_file.append(found)
    # Round robin over the files, so that every one is represented.
    chosen = []
    while any(by_file) and len(chosen) < PER_TARGET:
        for found in by_file:
            if found and len(chosen) < PER_TARGET:
                page = found.pop(0)
                if page not in chosen:
                    chosen.append(page)
    return chosen


def calls(page):
    """A fixed, varied list of calls for a page (the tail after the NUL)."""
    digest = hashlib.sha256(page).digest()
    # Decode as UTF-8; build the tree of the first tag (its name found at
    # position 0, built from position 0), walk its records, then calls of
    # every kind with arguments drawn from the digest.
    head = bytes([0, 1, 3, 7, 0, 0, 7, 0, 0, 11])
    return head + digest


def write(folder, files):
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    for i, data in enumerate(files):
        with open(os.path.join(folder, "seed-%02d" % i), "wb") as f:
            f.write(data)


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    chosen = pages()
    settings = [0x02, 0x02, 0x00, 0x04, 0x0A, 0x13, 0x02, 0x01]
    write(os.path.join(here, "seeds", "htmlview"),
          [bytes([settings[i % len(settings)]]) + p for i, p in enumerate(chosen)])
    tree = []
    for i, p in enumerate(chosen):
        if b"\0" in p:
            continue
        tree.append(p if i % 3 == 0 else p + b"\0" + calls(p))
    write(os.path.join(here, "seeds", "node_tree"), tree)
    print(len(chosen), "pages")


if __name__ == "__main__":
    main()
