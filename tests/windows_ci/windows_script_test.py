#!/usr/bin/env python3
"""scripts/windows-tests.cmd under Wine's cmd, on a bundle made by scripts/windows-bundle from this build: the
stand-ins are registered under HKCU\\Software\\Classes (and gone again afterwards), the chosen test programs
run from the bundle and pass, the Java check is skipped for want of a JVM, and the summary line counts them.

usage: windows_script_test.py SOURCE_DIR BUILD_DIR BUNDLE_DIR
"""
import os
import subprocess
import sys
import unittest

SOURCE, BUILD, BUNDLE = sys.argv[1:4]
WINE_RUN = os.path.join(BUILD, "wine-run")
PROGRAMS = ["support_tests", "capture_platform_tests", "capture_graph_tests"]
URL_READER_KEY = r"HKCU\Software\Classes\CLSID\{E436EBB6-524F-11CE-9F53-0020AF0BA770}\InprocServer32"


def wine(*args):
    return subprocess.run([WINE_RUN, *args], capture_output=True, text=True, errors="replace", timeout=540)


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


class WindowsScript(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        subprocess.run([os.path.join(SOURCE, "scripts", "windows-bundle"), BUILD, BUNDLE], check=True)

    def test_stand_ins_are_registered_for_the_user_and_removed(self):
        dll = windows_path(os.path.join(BUNDLE, "bin", "url_reader.dll"))
        register = wine(windows_path(os.path.join(BUNDLE, "bin", "register_user.exe")), dll)
        self.assertEqual(register.returncode, 0, register.stdout + register.stderr)
        query = wine("reg", "query", URL_READER_KEY)
        self.assertIn(dll.lower(), query.stdout.lower(), query.stdout + query.stderr)
        wine(windows_path(os.path.join(BUNDLE, "bin", "register_user.exe")), "/u", dll)
        self.assertNotIn(dll.lower(), wine("reg", "query", URL_READER_KEY).stdout.lower())

    def test_script_runs_the_programs_and_skips_java(self):
        run = wine("cmd", "/c", windows_path(os.path.join(SOURCE, "scripts", "windows-tests.cmd")),
                   windows_path(BUNDLE), *PROGRAMS)
        lines = run.stdout.replace("\r", "").splitlines()
        self.assertEqual(run.returncode, 0, run.stdout + run.stderr)
        for program in PROGRAMS:
            self.assertIn(f"PASSED {program}", lines)
        self.assertIn("windows-tests: no java on PATH: the Java check is skipped", lines)
        self.assertEqual(lines[-1], f"{len(PROGRAMS)} passed, 0 failed")


if __name__ == "__main__":
    result = unittest.main(argv=[sys.argv[0], "-v"], exit=False).result
    failed = len(result.failures) + len(result.errors)
    print(f"{result.testsRun - failed} passed, {failed} failed")
    sys.exit(1 if failed else 0)
