#!/usr/bin/env python3
"""Writes the Windows download: a zip of the two programs, the user guide
made of the README's Chinese sections as plain text, and the licences. The
texts are for Notepad: UTF-8 with a byte-order mark (older Notepads take
text without one for the ANSI code page), CRLF line ends, wrapped to 78
columns (a Chinese character takes two). The same inputs give the same zip,
byte for byte: fixed order, times and attributes.

    package.py --readme README.md --licences res/licences.txt \
               --time SECONDS_SINCE_1970 --out ZIP FILE...
"""
import argparse
import os
import re
import sys
import time
import unicodedata
import zipfile

GUIDE_SECTIONS = ("使用说明", "下载与卸载（Windows）")
WIDTH = 78
# A line never starts with these.
NO_LINE_START = set("，。、；：？！）》」』”’…%,.;:?!)]")


def width(text):
    return sum(2 if unicodedata.east_asian_width(c) in "WF" else 1 for c in text)


def sections(markdown, titles):
    """The named '## ' sections, in the README's order, heading included."""
    found = {}
    current = None
    for line in markdown.splitlines():
        if line.startswith("## "):
            current = line[3:].strip() if line[3:].strip() in titles else None
            if current:
                found[current] = []
        if current:
            found[current].append(line)
    missing = [title for title in titles if title not in found]
    if missing:
        sys.exit("README.md has no section " + ", ".join(missing))
    return [found[title] for title in titles]


def tokens(text):
    """Pieces a line may break between: a run of Latin letters, digits and
    signs stays whole, each Chinese character stands alone, and an opening
    bracket or quote stays with what follows it."""
    return re.findall(r"[“‘（《「『]*(?:[\x21-\x7e]+|\s+|.)", text)


def wrap(text, indent, hanging):
    lines, line, line_width = [], indent, width(indent)
    for piece in tokens(text):
        if piece.isspace():
            piece = " "
        piece_width = width(piece)
        fits = line_width + piece_width <= WIDTH
        if not fits and line.strip() and piece != " " and piece[0] not in NO_LINE_START:
            lines.append(line.rstrip())
            line, line_width = hanging, width(hanging)
        if piece == " " and line == hanging:
            continue
        line += piece
        line_width += piece_width
    lines.append(line.rstrip())
    return lines


def plain(markdown_lines):
    out = []
    in_code = False
    for raw in markdown_lines:
        if raw.strip().startswith("```"):
            in_code = not in_code
            continue
        if in_code:
            out.append(raw.rstrip()[:len(raw) - len(raw.lstrip())] + "  " + raw.strip())
            continue
        if raw.startswith("## "):
            title = raw[3:].strip()
            out += [title, "=" * width(title)]
            continue
        text = raw.replace("**", "").replace("`", "")
        text = re.sub(r"\[([^\]]+)\]\([^)]+\)", r"\1", text)
        stripped = text.lstrip()
        indent = text[: len(text) - len(stripped)]
        marker = re.match(r"(\d+\.|-) ", stripped)
        if not stripped:
            out.append("")
        elif marker:
            bullet = "·" if marker.group(1) == "-" else marker.group(1)
            head = indent + bullet + " "
            out += wrap(stripped[marker.end():], head, " " * width(head))
        else:
            out += wrap(stripped, indent, indent)
    while out and not out[-1]:
        out.pop()
    return out


def for_notepad(lines):
    return ("\ufeff" + "\r\n".join(lines) + "\r\n").encode("utf-8")


def guide(readme):
    with open(readme, encoding="utf-8") as file:
        markdown = file.read()
    lines = ["Quenzil 快递查询", ""]
    for section in sections(markdown, GUIDE_SECTIONS):
        lines += plain(section) + [""]
    return for_notepad(lines[:-1])


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--readme", required=True)
    parser.add_argument("--licences", required=True)
    parser.add_argument("--time", type=int, required=True, help="the entries' time, seconds since 1970")
    parser.add_argument("--out", required=True)
    parser.add_argument("files", nargs="+", help="programs to put in, by their own names")
    args = parser.parse_args()

    with open(args.licences, encoding="utf-8") as file:
        licences = for_notepad(file.read().rstrip("\n").split("\n"))
    entries = []
    for path in args.files:
        with open(path, "rb") as file:
            entries.append((os.path.basename(path), file.read()))
    entries += [("使用说明.txt", guide(args.readme)), ("许可.txt", licences)]

    # Zip times are local, without a zone, from 1980 on.
    stamp = max(time.gmtime(args.time)[:6], (1980, 1, 1, 0, 0, 0))
    partial = args.out + ".partial"
    with zipfile.ZipFile(partial, "w") as archive:
        for name, data in entries:
            info = zipfile.ZipInfo(name, date_time=stamp)
            info.compress_type = zipfile.ZIP_DEFLATED
            info.create_system = 0  # written on Windows: no Unix modes
            info.external_attr = 0x20  # FILE_ATTRIBUTE_ARCHIVE
            archive.writestr(info, data, compresslevel=9)
    os.replace(partial, args.out)


if __name__ == "__main__":
    main()
