#!/usr/bin/env python3
"""scripts/linked-licences.py on a small link map written like GNU ld's:
the forms of lines the release maps may hold, and the faults it must name."""
import os
import subprocess
import sys
import tempfile

SCRIPT = os.path.join(os.path.dirname(__file__), "..", "..", "scripts", "linked-licences.py")
TABLE = "-\tcrt2u.o\tRuntime\nlibx.a\tok*.o\tRuntime, Maths\nlibkernel32.a\t*\t@windows-dll\n"
LICENCES = "\ufeffList\r\n\r\n=====\r\n1. Runtime (start-up)\r\n\r\n=====\r\n2. Maths\r\n"
# A short member is followed by its reason on the same line; a long section
# name stands alone, its address, size and file on the next line.
MAP = """Archive member included to satisfy reference by file (symbol)

/tc/libx.a(ok1.o)             main.o (f)
/tc/lib/libkernel32.a(libkernel32s00001.o)
                              main.o (__imp_Sleep)
/tc/lib/libkernel32.a(lib64_libkernel32_a-readcr0.o)
                              main.o (__readcr0)
libproject.a(own.o)           main.o (g)
{extra}
Memory Configuration

Linker script and memory map

LOAD /tc/crt2u.o
LOAD main.o
.text           0x0000000140001000     0x1000
 .text          0x0000000140001000       0x40 /tc/libx.a(ok1.o)
 .text          0x0000000140001040        0x8 /tc/lib/libkernel32.a(libkernel32s00001.o)
 .idata$7       0x0000000140002000        0x4 /tc/lib/libkernel32.a(libkernel32s00001.o)
 .text$readcr0_with_a_long_name
                0x0000000140001048       0x10 /tc/lib/libkernel32.a(lib64_libkernel32_a-readcr0.o)
 .idata$5       0x0000000140002008        0x8 /tc/lib/libkernel32.a(lib64_libkernel32_a-readcr0.o)
"""


def run(folder, extra="", licences=LICENCES):
    for name, text in (("t.tsv", TABLE), ("l.txt", licences), ("q.map", MAP.format(extra=extra))):
        with open(os.path.join(folder, name), "w", encoding="utf-8", newline="") as file:
            file.write(text)
    done = subprocess.run([sys.executable, SCRIPT, "--table", os.path.join(folder, "t.tsv"),
                           "--licences", os.path.join(folder, "l.txt"), os.path.join(folder, "q.map")],
                          capture_output=True, text=True)
    return done.returncode, done.stdout + done.stderr


def expect(condition, what, output):
    if not condition:
        sys.exit(f"FAIL: {what}\n{output}")


with tempfile.TemporaryDirectory() as folder:
    code, output = run(folder)
    expect(code == 1, "code inside an import library passed as a stub", output)
    expect("lib64_libkernel32_a-readcr0.o) holds code" in output, "the code object is not named", output)
    expect("2 objects of other projects, 1 import stubs" in output,
           "ok1.o and crt2u.o are the external code, libkernel32s00001.o the stub; own.o is the project's", output)
    expect(output.count("FAIL") == 1, "more faults than the code in the import library", output)

    code, output = run(folder, extra="/tc/libx.a(new.o)             main.o (h)\n")
    expect(code == 1 and "libx.a(new.o) is linked, and no row" in output, "an object with no row passed", output)

    code, output = run(folder, licences=LICENCES.replace("2. Maths", "2. Other"))
    expect(code == 1 and "no section 'Maths'" in output, "a missing section passed", output)
print("linked-licences: import stubs told from code, unknown objects and missing sections named")
