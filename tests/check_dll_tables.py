#!/usr/bin/env python3
"""Reads a DLL's export and import tables with objdump -p and checks them.

Exports: exactly the plain names of the .def file, nothing decorated, nothing
internal. Imports: system DLLs only, so users need no runtime DLL beside it.
"""
import argparse
import re
import subprocess
import sys

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


def read_tables(objdump, dll):
    out = subprocess.run([objdump, "-p", dll], check=True, capture_output=True,
                         text=True).stdout
    fmt = re.search(r"file format (\S+)", out)
    exports, imports, in_names = [], [], False
    rvas = len(re.findall(r"\+base\[\s*\d+\]\s+\S+\s+Export RVA", out))
    for line in out.splitlines():
        if line.startswith("[Ordinal/Name Pointer] Table"):
            in_names = True
            continue
        if in_names:
            m = re.match(r"\s+\[\s*\d+\]\s+(\S+)", line)
            if m:
                exports.append(m.group(1))
                continue
            in_names = False
        m = re.match(r"\s+DLL Name:\s+(\S+)", line)
        if m:
            imports.append(m.group(1))
    return (fmt.group(1) if fmt else None), sorted(exports), imports, rvas


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("dll")
    ap.add_argument("--objdump", default="i686-w64-mingw32-objdump")
    ap.add_argument("--exports", required=True, help="the .def file")
    args = ap.parse_args()

    fmt, exports, imports, rvas = read_tables(args.objdump, args.dll)
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
