"""Tests of the probe that picks the Windows build: it must answer no wherever the 32-bit loader cannot start.

usage: probe_test.py
"""

import os
import stat
import sys
import tempfile
import unittest
from unittest import mock

import harness


def write_loader(directory, name, content):
    path = os.path.join(directory, name)
    with open(path, "wb") as f:
        f.write(content)
    os.chmod(path, os.stat(path).st_mode | stat.S_IXUSR)
    return path


class CanRun32BitTest(unittest.TestCase):
    def test_loaders(self):
        with tempfile.TemporaryDirectory() as directory:
            # A kernel that refuses i386 programs fails the exec with ENOEXEC, as it does for bytes
            # that are no program at all.
            cases = [
                ("starts", write_loader(directory, "starts", b"#!/bin/sh\nexit 0\n"), True),
                ("exec format error", write_loader(directory, "foreign", b"\x7fELF\x01\x01\x01garbage"), False),
                ("fails", write_loader(directory, "fails", b"#!/bin/sh\nexit 1\n"), False),
                ("missing", os.path.join(directory, "missing"), False),
            ]
            for name, loader, expected in cases:
                with self.subTest(name), mock.patch.object(harness, "WINE32_LOADER", loader):
                    with mock.patch.dict(os.environ, {harness.FORCE_WIN64_VARIABLE: ""}):
                        self.assertEqual(harness.can_run_32bit(), expected)

    def test_force_variable(self):
        with tempfile.TemporaryDirectory() as directory:
            loader = write_loader(directory, "starts", b"#!/bin/sh\nexit 0\n")
            for value, expected in (("1", False), ("yes", False), ("0", True), ("", True)):
                with self.subTest(value=value), mock.patch.object(harness, "WINE32_LOADER", loader):
                    with mock.patch.dict(os.environ, {harness.FORCE_WIN64_VARIABLE: value}):
                        self.assertEqual(harness.can_run_32bit(), expected)


class WineProgramTest(unittest.TestCase):
    def test_loader_runs_the_exe(self):
        # The pane's command and the environment of every Wine command name the same loader.
        for wine, loader_variable in ((harness.WINE_WRAPPER, None), (harness.WINE64_LOADER, harness.WINE64_LOADER)):
            with self.subTest(wine):
                program = harness.WineProgram("/b/x.exe", "/p", wine)
                self.assertTrue(program.command.endswith(" {} /b/x.exe".format(wine)), program.command)
                self.assertEqual(program.env.get("WINELOADER"), loader_variable)
                self.assertEqual(program.env["WINEPREFIX"], "/p")


if __name__ == "__main__":
    sys.exit(unittest.main(verbosity=2, exit=False).result.wasSuccessful() is False)
