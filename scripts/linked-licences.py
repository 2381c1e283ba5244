#!/usr/bin/env python3
"""Which code of other projects a release link put into the programs, and
which section of the licences gives its notice.

Reads the link maps that the release link writes (-Wl,-Map), takes every
object that came from outside the build tree (members of libstdc++.a,
libmingwex.a, ..., and the start-up objects) and looks each up in the table
res/licence_sources.tsv. An object no row matches is an error that names
it: a new dependency needs its row, and its notice in res/licences.txt.
Members of the import libraries of Windows DLLs need no notice; their rows
say so, and each such member must hold nothing but an import stub.

    linked-licences.py [--table TSV] [--licences TEXT] [--program EXE]...
                       [--list] MAP...

--licences  checks that every section the objects need is in TEXT (the
            shipped 许可.txt or res/licences.txt).
--program   checks that the map of the same name (quenzil.map for
            quenzil.exe) describes this very file: same sections, same
            addresses, same sizes. A stale map would check the wrong code.
--list      prints every object with its sections.
Exits 1 with the reasons on any failure.
"""
import argparse
import collections
import fnmatch
import os
import re
import struct
import sys

WINDOWS_DLL = "@windows-dll"
SOURCE_DIR = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
# What an import stub may hold besides its pieces of the import table: the
# 6-byte jump through its address slot, padded to 8.
STUB_TEXT_MAX = 8
FILE_ALIGNMENT = 0x200


class Failure(Exception):
    pass


def read_table(path):
    rows = []
    with open(path, encoding="utf-8") as file:
        for number, line in enumerate(file, 1):
            line = line.split("#", 1)[0].rstrip()
            if not line:
                continue
            fields = line.split("\t")
            if len(fields) != 3 or not all(f.strip() for f in fields):
                raise Failure(f"{path}:{number}: want library, object and sections, tab-separated")
            library, member, sections = (f.strip() for f in fields)
            names = [s.strip() for s in sections.split(",")]
            if WINDOWS_DLL in names and len(names) > 1:
                raise Failure(f"{path}:{number}: {WINDOWS_DLL} stands alone")
            rows.append((library, member, names, number))
    return rows


def parse_map(path):
    """The external inputs of one link: {(library, object): input sections
    [(name, size)]}, library "-" for an object file linked by itself; and
    the output sections {name: (address, size)}."""
    with open(path, encoding="utf-8", errors="replace") as file:
        lines = file.read().split("\n")
    build_dir = os.path.dirname(os.path.abspath(path))

    def external(name):
        # ld names inputs as it was given them, relative to the build tree
        # where it ran.
        full = os.path.normpath(os.path.join(build_dir, name))
        return not (full + os.sep).startswith(build_dir + os.sep)

    def key(name):
        member = re.fullmatch(r"(.+?)\(([^()]+)\)", name)
        if member:
            return os.path.basename(member.group(1)), member.group(2), member.group(1)
        return "-", os.path.basename(name), name

    inputs = {}
    part = None
    for line in lines:
        if line.startswith("Archive member included"):
            part = "archive"
        elif line.startswith(("Discarded input sections", "Allocating common symbols",
                              "Memory Configuration", "Linker script and memory map")):
            part = "script" if line.startswith("Linker script") else None
        elif part == "archive" and line and not line[0].isspace():
            # "archive(member)", then on the same line (when short) or the
            # next one what pulled it in.
            member = re.match(r"(.+?\([^()]+\))(?:\s|$)", line)
            if not member:
                raise Failure(f"{path}: unreadable archive member line: {line}")
            library, name, archive = key(member.group(1))
            if external(archive):
                inputs[(library, name)] = []
        elif part == "script" and line.startswith("LOAD "):
            name = line[5:].strip()
            if re.search(r"\.(o|obj)$", name, re.I) and external(name):
                inputs[("-", os.path.basename(name))] = []
    if not any(line.startswith("Linker script and memory map") for line in lines):
        raise Failure(f"{path}: not a GNU ld link map")

    # Input sections: " .name  0xADDR  0xSIZE  file", the name alone on its
    # line when long. Output sections start in the first column.
    outputs = {}
    by_path = {}
    pending = None
    started = False
    for line in lines:
        if line.startswith("Linker script and memory map"):
            started = True
            continue
        if not started:
            continue
        out = re.match(r"(\.\S+)\s+0x([0-9a-f]+)\s+0x([0-9a-f]+)", line)
        if out:
            outputs[out.group(1)] = (int(out.group(2), 16), int(out.group(3), 16))
            pending = None
            continue
        full = re.match(r" (\S+)\s+0x[0-9a-f]+\s+0x([0-9a-f]+)\s+(\S.*)$", line)
        rest = re.match(r"\s+0x[0-9a-f]+\s+0x([0-9a-f]+)\s+(\S.*)$", line)
        alone = re.fullmatch(r" (\S+)", line)
        if full:
            section, size, name = full.group(1), full.group(2), full.group(3)
        elif rest and pending:
            section, size, name = pending, rest.group(1), rest.group(2)
        else:
            pending = alone.group(1) if alone else None
            continue
        pending = None
        library, member, _ = key(name.strip())
        by_path.setdefault((library, member), []).append((section, int(size, 16)))
    for found in inputs:
        inputs[found] = by_path.get(found, [])
    return inputs, outputs


def is_import_stub(sections):
    """What dlltool makes for one entry of a DLL (or the head and tail of
    its import table): pieces of .idata, at most an 8-byte jump, no data."""
    if not any(name.startswith(".idata$") for name, _ in sections):
        return False
    for name, size in sections:
        if name.startswith(".idata$"):
            continue
        if name == ".text" and size <= STUB_TEXT_MAX:
            continue
        if name in (".data", ".bss") and size == 0:
            continue
        return False
    return True


def classify(inputs, rows, map_path, errors):
    """{(library, object): [sections]} for the objects that need a notice;
    [(library, object)] of the import stubs."""
    needs, stubs = {}, []
    for (library, member), sections in sorted(inputs.items()):
        name = f"{library}({member})" if library != "-" else member
        row = next((r for r in rows if fnmatch.fnmatchcase(library, r[0])
                    and fnmatch.fnmatchcase(member, r[1])), None)
        if row is None:
            errors.append(f"{map_path}: {name} is linked, and no row of the table says whose "
                          "code it is: add one, and its notice to res/licences.txt")
        elif row[2] == [WINDOWS_DLL]:
            if is_import_stub(sections):
                stubs.append((library, member))
            else:
                errors.append(f"{map_path}: {name} holds code, not an import stub "
                              f"(table line {row[3]} takes it for one): give it a row with its licence")
        else:
            needs[(library, member)] = row[2]
    return needs, stubs


def licence_sections(path):
    """Titles of the numbered sections, each after a rule of '=': the
    heading without its number and without what follows ' ('."""
    with open(path, encoding="utf-8-sig") as file:
        lines = file.read().replace("\r\n", "\n").split("\n")
    titles = set()
    for rule, heading in zip(lines, lines[1:]):
        found = re.fullmatch(r"\d+\. (.+?)(?: \(.*)?", heading.strip())
        if rule.startswith("=====") and found:
            titles.add(found.group(1))
    return titles


def pe_sections(path):
    """{name: (address, virtual size)} of a PE32+ program's sections."""
    with open(path, "rb") as file:
        data = file.read()
    try:
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        if data[pe:pe + 4] != b"PE\0\0":
            raise ValueError
        count, optional_size = struct.unpack_from("<H12xH", data, pe + 6)
        image_base = struct.unpack_from("<Q", data, pe + 24 + 24)[0]
        sections = {}
        for index in range(count):
            entry = pe + 24 + optional_size + 40 * index
            name = data[entry:entry + 8].rstrip(b"\0").decode("ascii")
            size, address = struct.unpack_from("<II", data, entry + 8)
            sections[name] = (image_base + address, size)
        return sections
    except (struct.error, ValueError, UnicodeDecodeError):
        raise Failure(f"{path}: not a 64-bit Windows program")


def check_program(program, outputs, map_path, errors):
    # The map gives raw sizes rounded up to the file alignment, except for
    # .bss; compare both rounded.
    def rounded(size):
        return -(-size // FILE_ALIGNMENT) * FILE_ALIGNMENT
    linked = {name: (address, rounded(size)) for name, (address, size) in outputs.items() if size}
    shipped = {name: (address, rounded(size)) for name, (address, size) in pe_sections(program).items()}
    differ = sorted(name for name in linked.keys() | shipped.keys() if linked.get(name) != shipped.get(name))
    if differ:
        errors.append(f"{map_path} is not the map of {program} (sections {', '.join(differ)} differ): "
                      "build again, so that both come from one link")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--table", default=os.path.join(SOURCE_DIR, "res", "licence_sources.tsv"))
    parser.add_argument("--licences")
    parser.add_argument("--program", action="append", default=[])
    parser.add_argument("--list", action="store_true")
    parser.add_argument("maps", nargs="+")
    args = parser.parse_args()

    errors = []
    try:
        rows = read_table(args.table)
        programs = {os.path.splitext(os.path.basename(p))[0]: p for p in args.program}
        titles = licence_sections(args.licences) if args.licences else None
        total_needs, total_stubs = {}, set()
        for map_path in args.maps:
            inputs, outputs = parse_map(map_path)
            if not inputs:
                errors.append(f"{map_path}: no object from outside the build tree; is this a static link?")
            needs, stubs = classify(inputs, rows, map_path, errors)
            total_needs.update(needs)
            total_stubs.update(stubs)
            program = programs.pop(os.path.splitext(os.path.basename(map_path))[0], None)
            if program:
                check_program(program, outputs, map_path, errors)
            print(f"{os.path.basename(map_path)}: {len(needs)} objects of other projects, "
                  f"{len(stubs)} import stubs of Windows DLLs")
        for program in programs.values():
            errors.append(f"{program}: no map of the same name given")
    except (OSError, Failure) as failure:
        print(f"linked-licences: {failure}", file=sys.stderr)
        return 1

    by_section = collections.defaultdict(list)
    for found, sections in sorted(total_needs.items()):
        for section in sections:
            by_section[section].append(found)
    for section, found in sorted(by_section.items()):
        libraries = collections.Counter(library if library != "-" else "start-up files"
                                        for library, _ in found)
        print(f"  {section}: {len(found)} objects ("
              + ", ".join(f"{n} {lib}" for lib, n in sorted(libraries.items())) + ")")
        if titles is not None and section not in titles:
            examples = ", ".join(f"{lib}({obj})" for lib, obj in found[:3])
            errors.append(f"{args.licences} has no section '{section}', which {examples}"
                          f"{' and others' if len(found) > 3 else ''} need")
    libraries = collections.Counter(library for library, _ in total_stubs)
    print("  import stubs: " + ", ".join(f"{n} {lib}" for lib, n in sorted(libraries.items())))
    if args.list:
        for (library, member), sections in sorted(total_needs.items()):
            print(f"{library}\t{member}\t{', '.join(sections)}")
    for error in errors:
        print(f"FAIL: {error}", file=sys.stderr)
    return 1 if errors else 0


if __name__ == "__main__":
    sys.exit(main())
