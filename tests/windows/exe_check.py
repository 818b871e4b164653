#!/usr/bin/env python3
"""Checks that the Windows program is a console executable that needs nothing
but the system's own DLLs and takes its functions from the expected ones.

usage: exe_check.py PROGRAM.exe OBJDUMP
"""
import re
import subprocess
import sys

SYSTEM_DLLS = {"kernel32.dll", "msvcrt.dll", "user32.dll"}
# What the dialogue itself calls, by the DLL that must provide it.
REQUIRED = {
    "msvcrt.dll": {"puts", "fgets", "fflush", "strtol", "_getch"},
    "user32.dll": {"SystemParametersInfoA"},
}
CONSOLE_SUBSYSTEM = 3


def imports(dump):
    """{dll: {function}} from objdump -p's import tables."""
    table, current = {}, None
    for line in dump.splitlines():
        m = re.match(r"\s*DLL Name: (\S+)", line)
        if m:
            current = table.setdefault(m.group(1).lower(), set())
            continue
        m = re.match(r"\s+[0-9a-f]+\s+(?:<none>\s+)?[0-9a-f]+\s+(\w+)$", line)
        if current is not None and m:
            current.add(m.group(1))
        elif not line.strip():
            current = None
    return table


def main():
    exe, objdump = sys.argv[1], sys.argv[2]
    dump = subprocess.run([objdump, "-p", exe], check=True, capture_output=True, text=True).stdout
    failures = []
    machine = re.search(r"file format (\S+)", dump).group(1)
    magic = re.search(r"^Magic\s+(\S+)", dump, re.M).group(1)
    expected = {"pei-i386": "010b", "pei-x86-64": "020b"}
    if expected.get(machine) != magic:
        failures.append(f"unexpected format {machine} with magic {magic}")
    subsystem = int(re.search(r"^Subsystem\s+([0-9a-f]+)", dump, re.M).group(1), 16)
    if subsystem != CONSOLE_SUBSYSTEM:
        failures.append(f"subsystem {subsystem}, not a console program")
    table = imports(dump)
    if set(table) != SYSTEM_DLLS:
        failures.append(f"imports {sorted(table)}, expected only {sorted(SYSTEM_DLLS)}")
    for dll, functions in REQUIRED.items():
        missing = functions - table.get(dll, set())
        if missing:
            failures.append(f"{dll} does not provide {sorted(missing)}")
    for f in failures:
        print("FAIL:", f)
    print(f"{machine}, imports: " + "; ".join(f"{d}: {len(fs)} functions" for d, fs in sorted(table.items())))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
