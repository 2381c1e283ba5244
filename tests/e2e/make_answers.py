#!/usr/bin/env python3
"""Copies the answer bodies into the folder the fake server serves and adds a
GBK twin ("<name>-gbk") of every tracking-service page, so that the same
pages reach the program in both character sets."""
import pathlib
import shutil
import sys


def main() -> int:
    source, target = pathlib.Path(sys.argv[1]), pathlib.Path(sys.argv[2])
    target.mkdir(parents=True, exist_ok=True)
    for path in sorted(source.iterdir()):
        if not path.is_file():
            continue
        shutil.copyfile(path, target / path.name)
        if not path.name.startswith(("marker-", "rows", "no-marker")):
            continue
        text = path.read_text(encoding="utf-8").replace("charset=utf-8", "charset=gb2312")
        encoded = text.encode("gbk")
        try:
            encoded.decode("utf-8")
        except UnicodeDecodeError:
            pass
        else:
            # A GBK page that happens to be valid UTF-8 would not test GBK.
            print(f"{path.name}: GBK form is valid UTF-8", file=sys.stderr)
            return 1
        (target / f"{path.name}-gbk").write_bytes(encoded)
    return 0


if __name__ == "__main__":
    sys.exit(main())
