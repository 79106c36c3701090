#!/usr/bin/env python3
"""Makes the release ZIP with cpack, unpacks it, and runs the probe from the
unpacked folder under Wine against the DLL beside it: selftest and --version."""
import argparse
import os
import subprocess
import sys
import tempfile
import zipfile

EXPECTED = {"Kestrune.dll", "kestrune-probe.exe", "kestrune.h", "README.md",
            "nginx-time-service.conf"}


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--cpack", required=True)
    ap.add_argument("--build", required=True)
    ap.add_argument("--wine", required=True)
    ap.add_argument("--version", required=True)
    a = ap.parse_args()

    failures = []
    with tempfile.TemporaryDirectory() as tmp:
        subprocess.run([a.cpack, "-G", "ZIP", "--config",
                        os.path.join(a.build, "CPackConfig.cmake"), "-B", tmp],
                       check=True, capture_output=True, timeout=300)
        name = f"Kestrune-{a.version}-win32"
        archive = os.path.join(tmp, name + ".zip")
        with zipfile.ZipFile(archive) as z:
            entries = set(z.namelist())
            z.extractall(os.path.join(tmp, "unpacked"))
        want = {f"{name}/{f}" for f in EXPECTED}
        if entries != want:
            failures.append(f"archive holds {sorted(entries)}, expected {sorted(want)}")
        folder = os.path.join(tmp, "unpacked", name)
        for args, text in ((["selftest"], " passed, 0 failed"),
                           (["--version"], f"Kestrune {a.version} (")):
            p = subprocess.run([a.wine, os.path.join(folder, "kestrune-probe.exe")] + args,
                               cwd=folder, capture_output=True, text=True, timeout=180)
            out = p.stdout + p.stderr
            print(f"$ kestrune-probe {' '.join(args)}  (exit {p.returncode})\n{out}")
            if p.returncode != 0 or text not in out:
                failures.append(f"kestrune-probe {' '.join(args)} from the package")
            # The DLL answering must be the packaged one, not the build's.
            if args == ["--version"] and "unpacked" not in out:
                failures.append("--version did not name the unpacked Kestrune.dll")
    for f in failures:
        print("FAIL:", f)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
