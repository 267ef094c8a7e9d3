#!/usr/bin/env python3
"""Installs a build into a scratch DESTDIR as a packager would (prefix /usr) and checks what
lands there: the file list, the menu entry and metainfo by their validators, the archivers'
private directory and run path, and the icon files against each other.

Usage: check_install.py <cmake> <build directory> <project version> [extra expected file]...
"""
import gzip
import os
import re
import struct
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ET
import zlib

APP_ID = "jp.tavrun.Tavrun"
ICON_SIZES = (16, 32, 48, 64, 128, 256)
EXPECTED = {
    "usr/bin/tavrun",
    "usr/lib/tavrun/libunlha32.so",
    "usr/lib/tavrun/libzip32.so",
    "usr/lib/tavrun/libzip32j.so",
    "usr/lib/tavrun/libunzip32.so",
    "usr/lib/tavrun/qtbase_ja.qm",
    "usr/share/tavrun/Readme.txt",
    f"usr/share/applications/{APP_ID}.desktop",
    f"usr/share/metainfo/{APP_ID}.metainfo.xml",
    "usr/share/man/man1/tavrun.1.gz",
    "usr/share/man/ja/man1/tavrun.1.gz",
    "usr/share/doc/tavrun/copyright",
    "usr/share/doc/tavrun/changelog.gz",
    f"usr/share/kio/servicemenus/{APP_ID}.desktop",
    f"usr/share/Thunar/sendto/{APP_ID}.compress.desktop",
    f"usr/share/Thunar/sendto/{APP_ID}.extract.desktop",
    "usr/share/nautilus-python/extensions/tavrun.py",
    "usr/share/icons/hicolor/scalable/apps/tavrun.svg",
} | {f"usr/share/icons/hicolor/{n}x{n}/apps/tavrun.png" for n in ICON_SIZES}

failures = []


def check(condition, text):
    if not condition:
        failures.append(text)
    return condition


def run(args, **kwargs):
    return subprocess.run(args, capture_output=True, text=True, **kwargs)


def png_pixels(path):
    """(width, height, rows of RGBA tuples) of an 8-bit RGBA or RGB, non-interlaced PNG."""
    data = open(path, "rb").read()
    assert data[:8] == b"\x89PNG\r\n\x1a\n", "not a PNG"
    pos, idat, header = 8, b"", None
    while pos < len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        if kind == b"IHDR":
            header = struct.unpack(">IIBBBBB", body)
        elif kind == b"IDAT":
            idat += body
        pos += 12 + length
    width, height, depth, colour, _, _, interlace = header
    assert depth == 8 and colour in (2, 6) and interlace == 0, f"unexpected PNG form {header}"
    bpp = 4 if colour == 6 else 3
    raw, stride, rows, prev = zlib.decompress(idat), width * bpp, [], bytearray(width * bpp)
    for y in range(height):
        kind, line = raw[y * (stride + 1)], bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for i in range(stride):
            a = line[i - bpp] if i >= bpp else 0
            b, c = prev[i], prev[i - bpp] if i >= bpp else 0
            if kind == 1:
                line[i] = (line[i] + a) & 255
            elif kind == 2:
                line[i] = (line[i] + b) & 255
            elif kind == 3:
                line[i] = (line[i] + (a + b) // 2) & 255
            elif kind == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                line[i] = (line[i] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 255
        rows.append([tuple(line[x * bpp:x * bpp + bpp]) + ((255,) if bpp == 3 else ())
                     for x in range(width)])
        prev = line
    return width, height, rows


def svg_pixels(path, size):
    """The picture an SVG of one-pixel-high rectangles paints, as rows of RGBA tuples."""
    root = ET.parse(path).getroot()
    rows = [[(0, 0, 0, 0)] * size for _ in range(size)]
    for rect in root.iter("{http://www.w3.org/2000/svg}rect"):
        x, y, w = int(rect.get("x")), int(rect.get("y")), int(rect.get("width"))
        fill = rect.get("fill").lstrip("#")
        colour = tuple(int(fill[i:i + 2], 16) for i in (0, 2, 4)) + (255,)
        for i in range(x, x + w):
            rows[y][i] = colour
    return root.get("viewBox"), rows


def check_compressed_docs(usr, version):
    """Manual pages and the changelog as Debian ships them: gzip at its best, with no name or
    time stamp (gzip -9n); the changelog names this version first."""
    for path in sorted(os.path.join(d, f) for d, _, fs in os.walk(usr) for f in fs
                       if f.endswith(".gz")):
        data = open(path, "rb").read()
        name = os.path.relpath(path, usr)
        # Header: magic, method, flags (FNAME 0x08), mtime (4 bytes), extra flags (2: best).
        check(data[:3] == b"\x1f\x8b\x08" and not data[3] & 0x08, f"{name} carries a file name")
        check(data[4:8] == b"\0\0\0\0", f"{name} carries a time stamp")
        check(data[8] == 2, f"{name} is not compressed with -9")
    changelog = gzip.decompress(open(os.path.join(usr, "share/doc/tavrun/changelog.gz"),
                                     "rb").read()).decode()
    first = changelog.splitlines()[0]
    check(first.startswith(f"tavrun ({version}) "), f"the changelog starts with {first!r}")
    # A man page that groff reads without a complaint (lintian runs the same command).
    for page in ("share/man/man1/tavrun.1.gz", "share/man/ja/man1/tavrun.1.gz"):
        result = run(["man", "--warnings", "-E", "UTF-8", "-l", "-Tutf8", "-Z",
                      os.path.join(usr, page)], env=dict(os.environ, LC_ALL="C.UTF-8"))
        # groff cannot break Japanese lines without blanks; lintian ignores that as well.
        complaints = [line for line in result.stderr.splitlines()
                      if not ("break line" in line and "/ja/" in page)]
        check(result.returncode == 0 and not complaints, f"man rejects {page}: {result.stderr}")


def check_copyright(usr):
    """A machine-readable copyright file: every licence a Files paragraph names is spelt out,
    and the licences of the linked libraries are all there."""
    text = open(os.path.join(usr, "share/doc/tavrun/copyright")).read()
    paragraphs = [p for p in text.split("\n\n") if p.strip()]
    check(paragraphs[0].startswith("Format: https://www.debian.org/doc/packaging-manuals/"
                                   "copyright-format/1.0/"), "copyright: no Format line")
    used = {re.search(r"^License: (.+)$", p, re.M).group(1)
            for p in paragraphs if p.startswith("Files:")}
    spelt = {p.splitlines()[0][len("License: "):] for p in paragraphs if p.startswith("License:")}
    check(used <= spelt, f"copyright: licences without text: {sorted(used - spelt)}")
    for licence in ("Expat", "LGPL-3", "BSD-3-clause", "ISC", "Zlib", "public-domain",
                    "Apache-2.0", "GPL-3 with Qt-1.0 exception"):
        check(licence in spelt, f"copyright: no {licence} paragraph")
    check(all(len(line) <= 80 for line in text.splitlines()), "copyright: a line over 80 columns")


def main():
    cmake, build, version = sys.argv[1], sys.argv[2], sys.argv[3]
    expected = EXPECTED | set(sys.argv[4:])
    with tempfile.TemporaryDirectory() as destdir:
        result = run([cmake, "--install", build, "--prefix", "/usr"],
                     env=dict(os.environ, DESTDIR=destdir))
        if not check(result.returncode == 0, "install failed:\n" + result.stdout + result.stderr):
            return
        found = {os.path.relpath(os.path.join(d, f), destdir)
                 for d, _, files in os.walk(destdir) for f in files}
        check(found == expected, "installed files differ:\n  missing: %s\n  unexpected: %s"
              % (sorted(expected - found), sorted(found - expected)))
        usr = os.path.join(destdir, "usr")

        # The validators a distribution runs; a missing one is a failure, not a pass.
        for tool, args in (("desktop-file-validate", [f"share/applications/{APP_ID}.desktop"]),
                           ("appstreamcli", ["validate", "--no-net",
                                             f"share/metainfo/{APP_ID}.metainfo.xml"])):
            try:
                result = run([tool] + [os.path.join(usr, a) if a.startswith("share") else a
                                       for a in args])
            except FileNotFoundError:
                check(False, f"{tool} is missing (scripts/install-deps.sh installs it)")
                continue
            check(result.returncode == 0 and "W:" not in result.stdout + result.stderr,
                  f"{tool} rejects the file:\n{result.stdout}{result.stderr}")
        metainfo = open(os.path.join(usr, f"share/metainfo/{APP_ID}.metainfo.xml")).read()
        check("@" not in metainfo, "metainfo has an unreplaced placeholder")
        desktop = open(os.path.join(usr, f"share/applications/{APP_ID}.desktop")).read()
        check(re.search(r"^Exec=tavrun %F$", desktop, re.M) and re.search(r"^Icon=tavrun$", desktop, re.M),
              "the menu entry does not start the installed program with its icon")
        check(re.search(r"^MimeType=inode/directory;$", desktop, re.M),
              "the menu entry does not offer to open a folder")
        check_compressed_docs(usr, version)
        check_copyright(usr)

        # The program finds its components at ../lib/tavrun; libzip32j.so finds libzip32.so
        # beside itself, wherever that directory is.
        components = os.path.join(usr, "lib/tavrun")
        dynamic = run(["readelf", "-d", os.path.join(components, "libzip32j.so")]).stdout
        check(re.search(r"R(UN)?PATH.*\[\$ORIGIN\]", dynamic), "libzip32j.so lost its $ORIGIN run path")
        # The loader's own answer (a sanitizer build cannot be loaded into this interpreter).
        linked = run(["ldd", os.path.join(components, "libzip32j.so")]).stdout
        check(f"libzip32.so => {components}/libzip32.so" in linked and "not found" not in linked,
              f"the installed libzip32j.so does not find libzip32.so beside itself:\n{linked}")
        check(not os.path.exists(os.path.join(usr, "bin/Readme.txt")),
              "a readme beside the installed program makes it a portable folder")

        # Every size is that size; the SVG paints exactly the 32-pixel picture.
        icons = os.path.join(usr, "share/icons/hicolor")
        pictures = {}
        for n in ICON_SIZES:
            width, height, rows = png_pixels(os.path.join(icons, f"{n}x{n}/apps/tavrun.png"))
            check((width, height) == (n, n), f"the {n}-pixel icon is {width}x{height}")
            pictures[n] = rows
        box, svg = svg_pixels(os.path.join(icons, "scalable/apps/tavrun.svg"), 32)
        check(box == "0 0 32 32", f"SVG view box {box}")
        flat = [[p if p[3] else (0, 0, 0, 0) for p in row] for row in pictures[32]]
        check(svg == flat, "the SVG icon is not the 32-pixel picture")
        check(any(p[3] for row in flat for p in row), "the icon is empty")


main()
if failures:
    print("\n".join(failures))
    sys.exit(1)
print("install layout ok")
