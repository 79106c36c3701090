#!/usr/bin/env python3
"""Instructions per call of named functions, counted by callgrind.

usage: callgrind_per_call.py FUNCTION[,FUNCTION...] -- PROGRAM [ARGS...]

Runs PROGRAM under `valgrind --tool=callgrind` and prints, for each function,
its calls and its inclusive instruction count divided by its calls. Counts
are exact and repeatable, whatever else the machine is doing.
"""
import collections
import os
import subprocess
import sys
import tempfile


def parse(path):
    """Returns {function: [inclusive Ir, calls]} from an uncompressed file."""
    self_ir = collections.Counter()
    callee_ir = collections.Counter()   # Ir of calls made by fn
    calls = collections.Counter()
    fn = cfn = None
    pending_call = False
    for line in open(path, encoding="utf-8", errors="replace"):
        line = line.rstrip("\n")
        if line.startswith("fn="):
            fn, pending_call = line[3:], False
        elif line.startswith("cfn="):
            cfn = line[4:]
        elif line.startswith("calls="):
            calls[cfn] += int(line.split("=")[1].split()[0])
            pending_call = True
        elif line and (line[0].isdigit() or line[0] in "+-*"):
            parts = line.split()
            ir = int(parts[1]) if len(parts) > 1 else 0
            if pending_call:
                callee_ir[fn] += ir
                pending_call = False
            elif fn is not None:
                self_ir[fn] += ir
    return {f: (self_ir[f] + callee_ir[f], calls[f]) for f in calls}


def main():
    if "--" not in sys.argv:
        sys.exit(__doc__)
    split = sys.argv.index("--")
    wanted = sys.argv[1].split(",")
    program = sys.argv[split + 1:]
    with tempfile.TemporaryDirectory() as tmp:
        out = os.path.join(tmp, "callgrind.out")
        subprocess.run(["valgrind", "--tool=callgrind", "--compress-strings=no",
                        "--compress-pos=no", f"--callgrind-out-file={out}"] + program,
                       check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        table = parse(out)
    for name in wanted:
        hits = [(f, v) for f, v in table.items() if f == name or f.startswith(name + "(")
                or f.endswith("::" + name) or ("::" + name + "(") in f]
        if not hits:
            print(f"{name}: not called")
            continue
        ir = sum(v[0] for _, v in hits)
        n = sum(v[1] for _, v in hits)
        print(f"{name}: {n} calls, {ir / n:.1f} instructions per call")


if __name__ == "__main__":
    main()
