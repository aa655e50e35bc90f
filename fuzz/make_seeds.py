#!/usr/bin/env python3
"""Writes the seed folders of the fuzz targets from the project's own test
inputs: the feeds, channel lists, HTTP responses, search replies and texts
that the tests write inline as C++ string literals, and item-store records
laid out as tests/feeds/feeds_test_util.h lays them out.

    python3 fuzz/make_seeds.py        (from the source root; rewrites every
                                       seeds folder under fuzz/)

Adjacent literals are joined as the compiler joins them; a name between two
"+" (a server address built at run time) stands as "http://127.0.0.1:8080".
"""
import hashlib
import os
import re
import shutil
import struct
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
PLACEHOLDER = b"http://127.0.0.1:8080"


def encode(code, wide):
    if not wide and code < 0x100:
        return bytes([code])
    return chr(code).encode("utf-8", "surrogatepass")


def parse_literal(src, i):
    """Parses the literal whose opening quote is at src[i]; returns (bytes, end)."""
    prefix_start = i
    while prefix_start > 0 and src[prefix_start - 1] in "uUL8R":
        prefix_start -= 1
    prefix = src[prefix_start:i]
    wide = prefix in ("u", "U", "L")
    if prefix.endswith("R"):
        close = src.index("(", i)
        delim = src[i + 1:close]
        end = src.index(")" + delim + '"', close)
        return src[close + 1:end].encode("utf-8"), end + len(delim) + 2
    out = bytearray()
    i += 1
    while src[i] != '"':
        c = src[i]
        if c != "\\":
            out += c.encode("utf-8")
            i += 1
            continue
        n = src[i + 1]
        simple = {"n": 10, "r": 13, "t": 9, "\\": 92, '"': 34, "'": 39, "?": 63, "a": 7, "b": 8, "f": 12, "v": 11}
        if n in simple:
            out.append(simple[n])
            i += 2
        elif n == "x":
            m = re.match(r"[0-9a-fA-F]+", src[i + 2:])
            out += encode(int(m.group(0), 16) & (0xFF if not wide else 0x10FFFF), wide)
            i += 2 + len(m.group(0))
        elif n in "uU":
            size = 4 if n == "u" else 8
            out += chr(int(src[i + 2:i + 2 + size], 16)).encode("utf-8", "surrogatepass")
            i += 2 + size
        elif n in "01234567":
            m = re.match(r"[0-7]{1,3}", src[i + 1:])
            out += encode(int(m.group(0), 8), wide)
            i += 1 + len(m.group(0))
        else:
            out += n.encode("utf-8")
            i += 2
    return bytes(out), i + 1


def skip_gap(src, i):
    """Skips white space and comments; returns the next position."""
    while i < len(src):
        if src[i].isspace():
            i += 1
        elif src.startswith("//", i):
            i = src.find("\n", i)
            i = len(src) if i < 0 else i
        elif src.startswith("/*", i):
            i = src.index("*/", i) + 2
        else:
            break
    return i


JOIN = re.compile(r"\+\s*[A-Za-z_][\w.:>-]*(\(\))?\s*\+\s*")


def literals(path):
    """Every run of adjacent string literals of a C++ file, joined."""
    src = open(path, encoding="utf-8", errors="replace").read()
    found = []
    i = 0
    while i < len(src):
        c = src[i]
        if src.startswith("//", i) or src.startswith("/*", i):
            i = skip_gap(src, i)
            continue
        if c == "'":
            m = re.match(r"'(\\.[^']*|[^'\\])'", src[i:])
            i += len(m.group(0)) if m else 1
            continue
        if c != '"' or (i > 0 and (src[i - 1].isalnum() and src[i - 1] not in "uUL8R")):
            i += 1
            continue
        text, i = parse_literal(src, i)
        while True:
            j = skip_gap(src, i)
            m = JOIN.match(src, j)
            if m and src[skip_gap(src, m.end())] == '"':
                text += PLACEHOLDER
                j = skip_gap(src, m.end())
            if j < len(src) and src[j] == '"':
                more, i = parse_literal(src, j)
                text += more
                continue
            if j < len(src) and src[j] in "uUL" and src[j + 1:j + 2] == '"':
                more, i = parse_literal(src, j + 1)
                text += more
                continue
            break
        found.append(text)
    return found


def files(*patterns):
    out = []
    for pattern in patterns:
        folder, _, suffix = pattern.rpartition("/")
        base = os.path.join(ROOT, folder)
        for dirpath, _, names in os.walk(base):
            for name in sorted(names):
                if name.endswith(suffix):
                    out.append(os.path.join(dirpath, name))
    return sorted(out)


def pick(items, count, limit):
    """Up to count distinct items no longer than limit, spread over their sizes."""
    unique = sorted({x for x in items if 0 < len(x) <= limit}, key=lambda x: (len(x), x))
    if len(unique) <= count:
        return unique
    step = len(unique) / count
    return [unique[int(k * step)] for k in range(count)]


def write(folder, seeds):
    path = os.path.join(ROOT, folder)
    shutil.rmtree(path, ignore_errors=True)
    os.makedirs(path)
    for n, seed in enumerate(seeds):
        name = "%03d-%s" % (n, hashlib.sha1(seed).hexdigest()[:10])
        with open(os.path.join(path, name), "wb") as f:
            f.write(seed)
    print("%-32s %3d seeds" % (folder, len(seeds)))


# The item store's record, as tests/feeds/feeds_test_util.h writes it.
def text16(t):
    return t.encode("utf-16-le") + b"\0\0"


def record(type_, title, link, id_, date, flag, content, page):
    body = struct.pack("<I", type_) + struct.pack("<I", (len(title) + 1) * 2) + text16(title)
    body += struct.pack("<H", (len(link) + 1) * 2) + struct.pack("<H", (len(id_) + 1) * 2 if id_ else 0)
    body += text16(link) + (text16(id_) if id_ else b"")
    body += struct.pack("<I", (len(date) + 1) * 2) + text16(date) + struct.pack("<I", flag)
    body += struct.pack("<I", (len(content) + 1) * 2) + text16(content)
    body += page[:39].encode("utf-16-le").ljust(80, b"\0")
    return struct.pack("<I", len(body)) + body


def store_seeds():
    # The records of tests/feeds/item_store_test.cpp.
    first = record(3, "Title \u00e9", "http://x/1", "tag:1", "2005-06-01 12:00:00", 2, "<p>c</p>",
                   "Ch007-01117584-001.htm")
    second = record(0, "", "http://x/2", "", "not a date", 0, "", "")
    error = record(0x00010000, "Err", "http://127.0.0.1/lasterror", "", "2005-06-01 00:00:00", 0, "why", "")
    long_ = record(1, "T" * 300, "http://x/" + "l" * 200, "id", "2005-06-01 00:00:00", 1, "<p>" + "c" * 900 + "</p>",
                   "Ch001-1-1.htm")
    deleted = record(0x80000000, "gone", "http://x/3", "", "2005-06-02 00:00:00", 0, "", "Ch001-1-2.htm")
    whole = first + second + error
    return [first, second, first + second, whole, long_, first + deleted + second, whole[:len(whole) - 7],
            whole[:5], b""]


def text_seeds():
    texts = []
    for path in files("tests/ambrel/.cpp", "tests/common/encoding_test.cpp", "tests/feeds/exml_test.cpp",
                      "tests/feeds/feed_text_test.cpp", "tests/kernel/.cpp"):
        for t in literals(path):
            if len(t) <= 400 and (any(b >= 0x80 for b in t) or b"&" in t or b"\\u" in t or t[:2] in (b"\xff\xfe", b"\xfe\xff")):
                texts.append(t)
    chosen = pick(texts, 36, 400)
    labels = [b"utf-8", b"windows-1251", b"windows-1252", b"shift_jis", b"hz-gb-2312", b"utf-16", b"iso-2022-jp",
              b"gb18030", b"koi8-r", b"iso-8859-7", b"big5", b"euc-kr"]
    return [b"\xff" + labels[n % len(labels)] + b"\n" + t for n, t in enumerate(chosen)]


# The pages the tests use, for the page targets: a round robin over these
# files, so that every one is represented.
PAGE_SOURCES = [
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


def pages(count=40, limit=4096):
    by_file = []
    for name in PAGE_SOURCES:
        path = os.path.join(ROOT, name)
        if not os.path.exists(path):
            continue
        found = []
        for t in literals(path):
            if re.search(rb"<[A-Za-z!/]", t) and 12 <= len(t) <= limit and t not in found:
                found.append(t)
        by_file.append(found)
    chosen = []
    while any(by_file) and len(chosen) < count:
        for found in by_file:
            if found and len(chosen) < count:
                page = found.pop(0)
                if page not in chosen:
                    chosen.append(page)
    return chosen


def tree_calls(page):
    """A fixed, varied list of calls for a page (the tail after the NUL; see
    fuzz/pages/node_tree_fuzzer.cpp): decoded as UTF-8, the tree of the first
    tag built from position 0 and its records walked, then calls of every
    kind with arguments drawn from the page's digest."""
    return bytes([0, 1, 3, 7, 0, 0, 7, 0, 0, 11]) + hashlib.sha256(page).digest()


def main():
    feeds = [t for p in files("tests/feeds/.cpp", "tests/refresh/.cpp") for t in literals(p)
             if re.search(rb"<(rss|feed|rdf:RDF|channel|opml)\b", t)]
    write("fuzz/feeds/seeds/parser", pick(feeds, 40, 6000))
    write("fuzz/feeds/seeds/store", store_seeds())

    responses = [t for p in files("tests/ventrel/.cpp", "tests/net/.cpp") for t in literals(p)
                 if re.match(rb"(HTTP/|ICY )", t) and b"\r\n" in t]
    chosen = pick(responses, 40, 4000)
    write("fuzz/ventrel/seeds/response", [bytes([(0, 3, 0xFF)[n % 3]]) + t for n, t in enumerate(chosen)])

    text = text_seeds()
    write("fuzz/text/seeds/codepage", text)
    write("fuzz/text/seeds/ambrel", text)

    lists = [t for p in files("tests/feeds/.cpp", "tests/quillet/.cpp", "tests/refresh/.cpp", "tests/ui/.cpp",
                              "tests/common/.cpp") for t in literals(p) if b"<opml" in t or b"<outline" in t]
    write("fuzz/quillet/seeds/opml_import", pick(lists, 36, 8000))

    replies = [t for p in files("tests/quillet/.cpp", "tests/realwindow/.cpp") for t in literals(p)
               if b'"url"' in t or b"responseData" in t]
    replies = pick(replies, 10, 8000)
    # Each reply cut after every result, as a download that ended early.
    cut = [r[:m.end()] for r in replies for m in re.finditer(rb"\},", r)]
    write("fuzz/quillet/seeds/feed_search", pick(replies + cut, 24, 8000))

    # The viewer's seeds begin with one byte of its settings (zoom, shrink,
    # split input); the node tree's are a page alone or followed by calls.
    chosen = pages()
    settings = [0x02, 0x02, 0x00, 0x04, 0x0A, 0x13, 0x02, 0x01]
    write("fuzz/pages/seeds/htmlview", [bytes([settings[n % len(settings)]]) + p for n, p in enumerate(chosen)])
    write("fuzz/pages/seeds/node_tree",
          [p if n % 3 == 0 else p + b"\0" + tree_calls(p) for n, p in enumerate(chosen) if b"\0" not in p])


if __name__ == "__main__":
    sys.exit(main())
