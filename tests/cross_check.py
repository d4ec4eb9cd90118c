#!/usr/bin/env python3
"""Cross-check: quorvel's exports against sums computed here, independently, with lstat.

    cross_check.py QUORVEL

Builds a tree with symbolic links (to files, to directories, dangling, a loop), hidden
files, empty and unreadable directories, a FIFO and odd names (blanks, commas, quotes, a
newline, control characters, bytes that are not UTF-8), runs `quorvel --export csv
--size-on-disk` and checks every directory's size, file count and size on disk against the
sums of lstat over the entries below it (each name once, symbolic links with their own
length and blocks, st_blocks x 512 bytes on disk, unreadable directories empty). Then the two
XML exports are parsed with a real XML parser and must give the same tree, and the plain
CSV still has its three columns. As root, quorvel runs as the user nobody, so that the unreadable directories really
are unreadable.
"""
import csv
import io
import os
import re
import shutil
import stat
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ET

NOBODY = 65534


def make_tree(root):
    def f(rel, size):
        p = os.path.join(root, rel)
        os.makedirs(os.path.dirname(p), exist_ok=True)
        with open(p, "wb") as out:
            out.truncate(size)

    f(b"plain/a.txt", 1234)
    f(b"plain/.hidden", 77)
    f(b"plain/deeper/x.bin", 1 << 20)
    f(b"plain/deeper/.y", 0)
    os.makedirs(os.path.join(root, b"empty"))
    os.makedirs(os.path.join(root, b".hidden dir/inner"))
    f(b".hidden dir/inner/z", 5)
    odd = [b"with blank", b"a,b,c", b'say "hi"', b"new\nline", b"tab\there", b"ctl\x01\x1b",
           b"\xff\xfe latin \xe9", "日本語 ü".encode(), b"<&>'"]
    for i, name in enumerate(odd):
        f(b"odd/" + name + b"/file", 10 + i)
        f(b"odd/files/" + name, 100 + i)
    f(b"links/target", 4000)
    os.symlink(b"target", os.path.join(root, b"links/to-file"))
    os.symlink(b"../plain", os.path.join(root, b"links/to-dir"))
    os.symlink(b"does/not/exist", os.path.join(root, b"links/dangling"))
    os.symlink(b".", os.path.join(root, b"links/loop"))
    os.mkfifo(os.path.join(root, b"links/fifo"))
    f(b"locked/secret/deep", 999)
    f(b"locked/top", 888)
    os.chmod(os.path.join(root, b"locked"), 0)
    f(b"partly/visible", 3)
    f(b"partly/closed/hidden-away", 31)
    os.chmod(os.path.join(root, b"partly/closed"), 0)
    # Files with their blocks written, and a sparse one far larger than what it takes.
    with open(os.path.join(root, b"plain/written"), "wb") as out:
        out.write(b"q" * 50000)
    f(b"plain/deeper/sparse", 1 << 30)


def expected_sums(root):
    """{path: (size, count, bytes on disk)} for every directory, as lstat sees the tree."""
    sums = {}

    def walk(path):
        size = count = on_disk = 0
        mode = os.lstat(path).st_mode
        if stat.S_IMODE(mode) & 0o005 != 0o005 and path != root:
            sums[path] = (0, 0, 0)  # the scanning user (nobody or the owner of 000) cannot list it
            return 0, 0, 0
        for entry in os.scandir(path):
            st = entry.stat(follow_symlinks=False)
            if stat.S_ISDIR(st.st_mode):
                s, c, d = walk(entry.path)
            else:
                s, c, d = st.st_size, 1, st.st_blocks * 512
            size += s
            count += c
            on_disk += d
        sums[path] = (size, count, on_disk)
        return size, count, on_disk

    walk(root)
    return sums


def run(quorvel, args, as_nobody):
    cmd = [quorvel] + args
    if as_nobody:
        cmd = ["setpriv", "--reuid=%d" % NOBODY, "--regid=%d" % NOBODY, "--clear-groups"] + cmd
    home = tempfile.mkdtemp()
    os.chmod(home, 0o777)
    env = dict(os.environ, XDG_CONFIG_HOME=home, HOME=home, LANGUAGE="en")
    try:
        return subprocess.run(cmd, check=True, stdout=subprocess.PIPE, env=env).stdout
    finally:
        shutil.rmtree(home)


def xml_name(raw):
    """A name as the XML exports must carry it: valid UTF-8, forbidden characters replaced."""
    text = raw.decode("utf-8", "replace")
    return re.sub("[\x00-\x08\x0b\x0c\x0e-\x1f\ufffe\uffff]", "\ufffd", text)


def tree_of(sums, path, top):
    name = xml_name(path if top else os.path.basename(path))
    children = sorted((tree_of(sums, p, False) for p in sums
                       if os.path.dirname(p) == path and p != path), key=repr)
    return (name, sums[path][0], sums[path][1], sums[path][2], children)


def parse_xml(data, layout):
    root = ET.fromstring(data)

    def node(e):
        if layout == 1:
            name = e.findtext("name")
            size, count = int(e.findtext("size")), int(e.findtext("count"))
            subs = e.find("subdirs")
            kids = list(subs) if subs is not None else []
        else:
            name, size, count = e.get("name"), int(e.get("size")), int(e.get("filecount"))
            kids = list(e.findall("dir"))
        on_disk = int(e.get("sizeondisk"))
        return (name, size, count, on_disk, sorted((node(k) for k in kids), key=repr))

    return node(root.find("dir"))


def main():
    quorvel = os.path.abspath(sys.argv[1])
    as_nobody = os.geteuid() == 0
    base = tempfile.mkdtemp(prefix="qvcross-")
    os.chmod(base, 0o755)
    root = os.path.join(os.fsencode(base), b"tree")
    os.makedirs(root)
    failures = []
    try:
        make_tree(root)
        sums = expected_sums(root)

        data = run(quorvel, ["--export", "csv", "--no-grouping", "--size-on-disk",
                             os.fsdecode(root)], as_nobody)
        text = data.decode("utf-8", "surrogateescape")
        rows = list(csv.reader(io.StringIO(text, newline="")))
        got = {os.fsencode(r[0]): (int(r[1]), int(r[2]), int(r[3])) for r in rows}
        if len(rows) != len(got):
            failures.append("a directory is listed twice")
        for path, want in sorted(sums.items()):
            if got.get(path) != want:
                failures.append("%r: exported %r, lstat says %r" % (path, got.get(path), want))
        for path in got.keys() - sums.keys():
            failures.append("%r: exported but not a directory here" % path)

        want_tree = tree_of(sums, root, True)
        for layout, fmt in ((1, "xml"), (2, "xml2")):
            parsed = parse_xml(run(quorvel, ["--export", fmt, os.fsdecode(root)], as_nobody),
                               layout)
            if parsed != want_tree:
                failures.append("%s export parses into another tree:\n%r\n%r"
                                % (fmt, parsed, want_tree))

        # Without the option the CSV keeps the three columns its older readers expect.
        plain = run(quorvel, ["--export", "csv", os.fsdecode(root)], as_nobody)
        widths = {len(r) for r in csv.reader(io.StringIO(
            plain.decode("utf-8", "surrogateescape"), newline=""))}
        if widths != {3}:
            failures.append("the plain CSV has rows of %r columns" % sorted(widths))
    finally:
        for dirpath, dirnames, _ in os.walk(base):
            for d in dirnames:
                p = os.path.join(dirpath, d)
                if not os.path.islink(p):
                    os.chmod(p, 0o755)
        shutil.rmtree(base)

    checked = len(sums) + 3
    print("%d passed, %d failed" % (checked - len(failures), len(failures)))
    for f in failures:
        print("FAIL:", f)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
