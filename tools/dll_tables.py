"""A PE file's tables as `objdump -p` prints them: its format, its exported
names, its imports per DLL, and how many addresses it exports."""
import collections
import re
import subprocess

DllTables = collections.namedtuple("DllTables", "format exports imports rvas")


def read_tables(dll, objdump="i686-w64-mingw32-objdump"):
    """DllTables: exports in table order, imports as {DLL: [functions]}."""
    text = subprocess.run([objdump, "-p", dll], check=True, capture_output=True,
                          text=True).stdout
    fmt = re.search(r"file format (\S+)", text)
    rvas = len(re.findall(r"\+base\[\s*\d+\]\s+\S+\s+Export RVA", text))
    imports, current = {}, None
    exports, in_names = [], False
    for line in text.splitlines():
        m = re.match(r"\s*DLL Name: (\S+)", line)
        if m:
            current = imports.setdefault(m.group(1), [])
            continue
        if current is not None:
            m = re.match(r"\s*[0-9a-f]+\s+\d+\s+(\S+)", line)
            if m:
                current.append(m.group(1))
                continue
            if not line.strip().startswith("vma:"):
                current = None  # a blank line ends the DLL's list
        if line.startswith("[Ordinal/Name Pointer] Table"):
            in_names = True
            continue
        if in_names:
            m = re.match(r"\s*\[\s*\d+\]\s+(\S+)", line)
            if m:
                exports.append(m.group(1))
            else:
                in_names = False
    return DllTables(fmt.group(1) if fmt else None, exports, imports, rvas)
