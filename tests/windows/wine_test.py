#!/usr/bin/env python3
"""Runs the Windows program under Wine, a Windows API implementation of its
own, and checks its output, its exit status and the calls it makes.

usage: wine_test.py PROGRAM.exe      (WINEPREFIX names the prefix to use)

Exits 77 when this machine cannot run the program under Wine.
"""
import os
import pty
import re
import select
import signal
import struct
import subprocess
import sys
import termios
import time
import unittest

EXE = None
LOADERS = {"pe32": "/usr/lib/wine/wine", "pe32+": "/usr/lib/wine/wine64"}
WINESERVERS = {"pe32": "/usr/lib/wine/wineserver32", "pe32+": "/usr/lib/wine/wineserver64"}
TIMEOUT = 120  # seconds; Wine's first start in a prefix is slow
MOUSE_KEY = r"HKCU\Control Panel\Mouse"
RELAY_KEY = r"HKCU\Software\Wine\Debug"
# The calls to follow: the settings service, the line read and the key read.
RELAY_INCLUDE = "user32.SystemParametersInfoA;msvcrt.fgets;msvcrt._getch"
SPI_GETMOUSESPEED, SPI_SETMOUSESPEED = 0x70, 0x71
SPIF_UPDATEINIFILE_SENDWININICHANGE = 3
LINE_LIMIT = 255
INT_MAX, INT_MIN = 2**31 - 1, -(2**31)


def pe_kind(path):
    """'pe32' or 'pe32+' from the optional header's magic."""
    with open(path, "rb") as f:
        data = f.read(4096)
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    magic = struct.unpack_from("<H", data, pe + 24)[0]
    return {0x10B: "pe32", 0x20B: "pe32+"}[magic]


def wine_env(**extra):
    env = dict(os.environ, WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree,mshtml=")
    env.pop("DISPLAY", None)
    env.update(extra)
    return env


def loader():
    return LOADERS[pe_kind(EXE)]


def wine(*args, stdin=b"", **extra):
    """Runs a Windows program in the prefix, detached from any terminal."""
    return subprocess.run([loader(), *args], input=stdin, capture_output=True, env=wine_env(**extra),
                          timeout=TIMEOUT, start_new_session=True)


def reg_set(key, name, value):
    r = wine("reg", "add", key, "/v", name, "/t", "REG_SZ", "/d", value, "/f")
    if r.returncode != 0:
        raise RuntimeError(f"reg add {key} {name} failed: {r.stderr.decode(errors='replace')}")


def dialogue(shown):
    return f"Hello!\r\nSpeed is: {shown}\r\nEnter New speed: \r\nHit Enter to exit.".encode()


def signed(hexdigits):
    """A pointer-sized argument as the signed number it carries."""
    bits = 64 if pe_kind(EXE) == "pe32+" else 32
    n = int(hexdigits, 16)
    return n - (1 << bits) if n >= 1 << (bits - 1) else n


def calls(relay_log):
    """The followed calls in order, as (function, [arguments])."""
    found = []
    for m in re.finditer(r"Call (user32\.SystemParametersInfoA|msvcrt\.fgets|msvcrt\._getch)\(([^)]*)\)", relay_log):
        found.append((m.group(1).split(".")[1], [a for a in m.group(2).split(",") if a]))
    return found


class WineDialogue(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        prefix = os.environ["WINEPREFIX"]
        new = not os.path.exists(os.path.join(prefix, "system.reg"))
        os.makedirs(prefix, exist_ok=True)
        # One server for the whole run: left to itself, Wine starts a new one,
        # and its background programs, for every program run.
        subprocess.run([WINESERVERS[pe_kind(EXE)], "-p"], env=wine_env(), timeout=TIMEOUT, check=True)
        # The background programs outlive the program that starts them; started
        # here, they do not hold on to a test's pipes.
        subprocess.run([loader(), "wineboot", "-i" if new else "-r"], env=wine_env(), timeout=TIMEOUT, check=True,
                       start_new_session=True, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL)
        reg_set(RELAY_KEY, "RelayInclude", RELAY_INCLUDE)

    @classmethod
    def tearDownClass(cls):
        subprocess.run([WINESERVERS[pe_kind(EXE)], "-k"], env=wine_env(), timeout=TIMEOUT, check=False)

    # input typed, speed in the registry beforehand, speed the set must receive
    CASES = [
        ("number", b"15\n", "10", 15),
        ("blanks_sign_letters", b"   +15abc\n", "10", 15),
        ("crlf", b"15\r\n", "10", 15),
        ("negative", b"-3\n", "10", -3),
        ("zero", b"0\n", "10", 0),
        ("above_scale", b"99\n", "10", 99),
        ("letters_write_back", b"abc\n", "7", 7),
        ("empty_line_writes_back", b"\n", "7", 7),
        ("end_of_input_writes_back", b"", "7", 7),
        ("huge_saturates", b"4294967311\n", "10", INT_MAX),
        ("huge_negative_saturates", b"-4294967281\n", "10", INT_MIN),
    ]

    def test_dialogue_and_calls(self):
        for name, typed, stored, expected in self.CASES:
            with self.subTest(name):
                # Wine keeps what a set stores elsewhere than the query reads it
                # from, so each case starts from a known setting.
                reg_set(MOUSE_KEY, "MouseSensitivity", stored)
                r = wine(EXE, stdin=typed, WINEDEBUG="+relay")
                self.assertEqual(r.stdout, dialogue(stored))
                self.assertEqual(r.returncode, 0)
                seen = calls(r.stderr.decode(errors="replace"))
                self.assertEqual([f for f, _ in seen], ["SystemParametersInfoA", "fgets", "SystemParametersInfoA", "_getch"])
                (_, query), (_, read), (_, store), (_, key) = seen
                self.assertEqual([int(query[0], 16), int(query[1], 16), int(query[3], 16)], [SPI_GETMOUSESPEED, 0, 0])
                self.assertNotEqual(int(query[2], 16), 0, "the query is given the speed's address")
                self.assertEqual(int(read[1], 16), LINE_LIMIT)
                self.assertEqual([int(store[0], 16), int(store[1], 16), signed(store[2]), int(store[3], 16)],
                                 [SPI_SETMOUSESPEED, 0, expected, SPIF_UPDATEINIFILE_SENDWININICHANGE])
                self.assertEqual(key, [])

    def test_waits_for_a_key_at_the_console(self):
        reg_set(MOUSE_KEY, "MouseSensitivity", "10")
        pid, fd = pty.fork()
        if pid == 0:
            os.environ.update(wine_env())
            os.execv(loader(), [loader(), EXE])
        output = bytearray()

        def read_until(text, seconds):
            deadline = time.monotonic() + seconds
            while time.monotonic() < deadline:
                # Wine's console draws characters one by one between escape
                # sequences and moves the cursor over blanks.
                plain = re.sub(rb"\x1b\[[0-9;?]*[A-Za-z]", b"", bytes(output)).replace(b" ", b"")
                if text in plain:
                    return True
                if select.select([fd], [], [], 0.1)[0]:
                    try:
                        output.extend(os.read(fd, 4096))
                    except OSError:
                        return False
            return False

        try:
            self.assertTrue(read_until(b"EnterNewspeed:", TIMEOUT), bytes(output))
            # Typed before Wine's console has taken the terminal over, the line
            # would be cooked by the terminal instead.
            deadline = time.monotonic() + TIMEOUT
            while termios.tcgetattr(fd)[3] & termios.ICANON and time.monotonic() < deadline:
                read_until(b"\0", 0.1)
            os.write(fd, b"14\r")
            self.assertTrue(read_until(b"HitEntertoexit.", TIMEOUT), bytes(output))
            time.sleep(1)
            self.assertEqual(os.waitpid(pid, os.WNOHANG), (0, 0), "the program waits for a key")
            mark = len(output)
            os.write(fd, b"x")
            deadline = time.monotonic() + TIMEOUT
            while time.monotonic() < deadline:
                done, status = os.waitpid(pid, os.WNOHANG)
                if done:
                    break
                read_until(b"\0", 0.1)
            else:
                self.fail("a key does not end the wait")
            self.assertEqual(os.waitstatus_to_exitcode(status), 0)
            self.assertNotIn(b"x", re.sub(rb"\x1b\[[0-9;?]*[A-Za-z]", b"", bytes(output[mark:])), "the key is not echoed")
        finally:
            try:
                os.kill(pid, signal.SIGKILL)
                os.waitpid(pid, 0)
            except (ProcessLookupError, ChildProcessError):
                pass
            os.close(fd)


def can_run_here(exe):
    path = LOADERS[pe_kind(exe)]
    if not os.access(path, os.X_OK) or not os.access(WINESERVERS[pe_kind(exe)], os.X_OK):
        return f"{path} is not installed"
    try:
        r = subprocess.run([path, "--version"], capture_output=True, timeout=TIMEOUT)
    except OSError as e:
        return f"{path} cannot run on this machine: {e}"
    if r.returncode != 0:
        return f"{path} cannot run on this machine: {r.stderr.decode(errors='replace').strip()}"
    return None


if __name__ == "__main__":
    EXE = os.path.abspath(sys.argv.pop(1))
    why = can_run_here(EXE)
    if why:
        print("skipped:", why)
        sys.exit(77)
    unittest.main(verbosity=2)
