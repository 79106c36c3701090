#!/usr/bin/env python3
"""Reads a DLL's export and import tables with objdump -p and checks them.

Exports: exactly the plain names of the .def file, nothing decorated, nothing
internal. Imports: system DLLs only, so users need no runtime DLL beside it.
"""
import argparse
import os
import re
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tools"))
from dll_tables import read_tables  # noqa: E402

SYSTEM_DLLS = {"kernel32.dll", "msvcrt.dll", "winhttp.dll"}


def def_exports(path):
    names, in_exports = [], False
    for line in open(path, encoding="ascii"):
        line = line.split(";")[0].strip()
        if not line:
            continue
        if line.upper() == "EXPORTS":
            in_exports = True
            continue
        if in_exports:
            names.append(re.split(r"[\s=]", line)[0])
    return sorted(names)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("dll")
    ap.add_argument("--objdump", default="i686-w64-mingw32-objdump")
    ap.add_argument("--exports", required=True, help="the .def file")
    args = ap.parse_args()

    tables = read_tables(args.dll, args.objdump)
    fmt, exports, rvas = tables.format, sorted(tables.exports), tables.rvas
    imports = list(tables.imports)
    want = def_exports(args.exports)
    failures = []
    if fmt != "pei-i386":
        failures.append(f"file format is {fmt}, not pei-i386")
    if exports != want:
        failures.append(f"exports {exports}, expected exactly {want}")
    if rvas != len(exports):
        failures.append(f"{rvas} exported addresses for {len(exports)} names: "
                        "something is exported by ordinal only")
    for name in exports:
        if "@" in name or name.startswith("_"):
            failures.append(f"decorated or internal export {name}")
    foreign = [d for d in imports if d.lower() not in SYSTEM_DLLS]
    if foreign:
        failures.append(f"imports non-system DLLs {foreign}")
    print(f"format {fmt}; exports {exports}; imports {imports}")
    for f in failures:
        print("FAIL:", f)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
