#!/usr/bin/env python3
"""Builds the Windows zip and checks what it holds: the program, as built, and
the text for its users, at the top of the archive.

usage: zip_check.py BUILD_DIR PROGRAM.exe
"""
import glob
import struct
import subprocess
import sys
import tempfile
import zipfile


def pe_header(image):
    """The machine and the subsystem of a PE image."""
    pe = struct.unpack_from("<I", image, 0x3C)[0]
    machine = struct.unpack_from("<H", image, pe + 4)[0]
    subsystem = struct.unpack_from("<H", image, pe + 24 + 68)[0]
    return machine, subsystem


def main():
    build, exe = sys.argv[1], sys.argv[2]
    with tempfile.TemporaryDirectory(prefix="ptrspeed-zip-") as out:
        subprocess.run(["cpack", "--config", f"{build}/CPackConfig.cmake", "-B", out, "-G", "ZIP"], check=True,
                       stdout=subprocess.DEVNULL)
        zips = glob.glob(f"{out}/*.zip")
        if len(zips) != 1:
            print("FAIL: expected one zip, found", zips)
            return 1
        with zipfile.ZipFile(zips[0]) as z:
            names = sorted(z.namelist())
            print(zips[0].rsplit("/", 1)[-1], names)
            if names != ["README.txt", "ptrspeed.exe"]:
                print("FAIL: unexpected contents")
                return 1
            packed = z.read("ptrspeed.exe")
            readme = z.read("README.txt").decode()
    # The packed program is the built one, stripped again: the same machine
    # and subsystem, and no larger.
    with open(exe, "rb") as f:
        built = f.read()
    if packed[:2] != b"MZ" or pe_header(packed) != pe_header(built) or len(packed) > len(built):
        print("FAIL: the packed program is not the built one")
        return 1
    if "ptrspeed" not in readme:
        print("FAIL: README.txt says nothing of the program")
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
