#!/usr/bin/env python3
"""quillmar.exe as a user runs it, under Wine in the test prefix whose default capture device is the
stand-in tone device: argument errors, version and device listing, recordings stopped by the time limit,
by Enter, by Ctrl+C (a real SIGINT and the in-process hook), playback to the end and stopped by q, and
the failure output. Files are checked on the Linux side with soxi and mpg123.

usage: quillmar_cli_test.py WINE_RUN QUILLMAR_EXE WORK_DIR
"""
import os
import re
import signal
import subprocess
import sys
import time
import unittest

WINE_RUN, EXE, WORK = sys.argv[1:4]
DEADLINE = 60  # seconds: a guard against hanging, never a measured expectation


def run(*args, stdin=None, env=None, name="out"):
    """Runs quillmar.exe to its end; returns (exit status, stdout, stderr) with carriage returns kept."""
    out_path = os.path.join(WORK, name + ".stdout")
    err_path = os.path.join(WORK, name + ".stderr")
    with open(out_path, "wb") as out, open(err_path, "wb") as err:
        proc = subprocess.run([WINE_RUN, EXE, *args], cwd=WORK, stdout=out, stderr=err,
                              input=stdin, timeout=DEADLINE, env=environment(env))
    return proc.returncode, read(out_path), read(err_path)


def environment(extra):
    env = dict(os.environ, WINE_RUN_CAPTURE="0")
    env.update(extra or {})
    return env


def read(path):
    with open(path, "rb") as f:
        return f.read().decode("utf-8")


def status_lines(stdout):
    return [line for line in re.split(r"[\r\n]", stdout) if line.startswith("[")]


def soxi(path, flag):
    return subprocess.run(["soxi", flag, path], capture_output=True, text=True, check=True).stdout.strip()


def riff_chunks(path):
    """[(id, data offset, size)] of a RIFF WAVE file's chunks, and the RIFF size field."""
    with open(path, "rb") as f:
        data = f.read()
    assert data[0:4] == b"RIFF" and data[8:12] == b"WAVE", data[:12]
    chunks, offset = [], 12
    while offset + 8 <= len(data):
        size = int.from_bytes(data[offset + 4:offset + 8], "little")
        chunks.append((data[offset:offset + 4], offset + 8, size))
        offset += 8 + size + (size & 1)
    return chunks, int.from_bytes(data[4:8], "little")


def decodes(path):
    """mpg123 decodes the whole file without complaint and yields samples."""
    proc = subprocess.run(["mpg123", "-q", "-s", path], capture_output=True)
    return proc.returncode == 0 and len(proc.stdout) > 0, proc.stderr.decode(errors="replace")


class ArgumentErrors(unittest.TestCase):
    def test_usage_errors_exit_2_with_a_reason_and_the_usage(self):
        cases = {
            (): "no command given",
            ("frobnicate",): 'unknown command "frobnicate"',
            ("record",): "record needs a file to write",
            ("record", "x.mp3", "--format", "ogg"): "--format must be mp3, pcm or a format tag",
            ("record", "x.mp3", "--format", "0x10000"): "--format must be",
            ("record", "x.mp3", "--rate", "0"): "--rate must be",
            ("record", "x.mp3", "--bitrate", "12k"): "--bitrate must be",
            ("record", "x.mp3", "--seconds", "-1"): "--seconds must be",
            ("record", "x.mp3", "--seconds"): "--seconds needs a value",
            ("record", "x.mp3", "y.mp3"): 'record takes one file, got also "y.mp3"',
            ("record", "x.mp3", "--loud", "1"): "unknown option --loud",
            ("play",): "play needs a file or URL",
            ("version", "now"): "version takes no arguments",
        }
        for args, reason in cases.items():
            with self.subTest(args=args):
                status, stdout, stderr = run(*args)
                self.assertEqual(status, 2, stderr)
                self.assertIn("quillmar: " + reason, stderr)
                self.assertIn("usage: quillmar COMMAND", stderr)
                self.assertEqual(stdout, "")
        self.assertFalse(os.path.exists(os.path.join(WORK, "x.mp3")), "no file is made for a usage error")

    def test_help_goes_to_stdout(self):
        status, stdout, _ = run("help")
        self.assertEqual(status, 0)
        self.assertIn("record FILE [--format mp3|pcm|TAG]", stdout)


class Information(unittest.TestCase):
    def test_version_shows_the_library_file_version(self):
        status, stdout, _ = run("version")
        self.assertEqual(status, 0)
        self.assertRegex(stdout, r"getVersion:\s+0\s+\(no Drovane.tar")
        self.assertRegex(stdout, r"Tessaro.dll: \d+\.\d+\.\d+\.\d+  .*Tessaro.dll")

    def test_devices_lists_the_tone_stand_in_first_and_the_compressors(self):
        status, stdout, _ = run("devices")
        self.assertEqual(status, 0)
        inputs, compressors = stdout.split("Audio compressors", 1)
        self.assertRegex(inputs, r"\n\s+1\. Test Tone Capture\s+<- records\n")
        self.assertEqual(inputs.count("<- records"), 1)
        self.assertIn("Test ACM IMA ADPCM", compressors)


class Recording(unittest.TestCase):
    def test_mp3_for_a_second_shows_levels_and_writes_a_valid_stream(self):
        status, stdout, stderr = run("record", "one second.mp3", "--seconds", "1", "--bitrate", "96000")
        self.assertEqual(status, 0, stderr)
        self.assertIn("MP3 at 96000 bit/s, 44100 Hz mono", stdout)
        levels = status_lines(stdout)
        self.assertGreater(len(levels), 5)
        # The stand-in's tone gives a steady level above zero.
        self.assertRegex(levels[-1], r"^\[#+\.*\]\s+[1-9]\d*%  00:0\d\.\d\s*$")
        self.assertRegex(stdout, r"Recorded \d\.\d s \(stopped: time limit\)\. Wrote \d+ bytes to .*one second\.mp3")
        path = os.path.join(WORK, "one second.mp3")
        ok, errors = decodes(path)
        self.assertTrue(ok, errors)
        self.assertEqual(soxi(path, "-r"), "44100")
        self.assertEqual(soxi(path, "-c"), "1")

    def test_pcm_at_22050_writes_a_wave_file(self):
        status, stdout, stderr = run("record", "pcm.wav", "--format", "pcm", "--rate", "22050", "--seconds", "1")
        self.assertEqual(status, 0, stderr)
        self.assertIn("WAVE with format tag 1 (0x0001), 22050 Hz mono", stdout)
        path = os.path.join(WORK, "pcm.wav")
        self.assertEqual(soxi(path, "-t"), "wav")
        self.assertEqual(soxi(path, "-r"), "22050")
        self.assertEqual(soxi(path, "-e"), "Signed Integer PCM")
        self.assertGreater(float(soxi(path, "-D")), 0.3)

    def test_enter_on_standard_input_stops(self):
        # Input arrives at once; the recording still starts, then stops on the line end.
        status, stdout, stderr = run("record", "enter.mp3", stdin=b"\n")
        self.assertEqual(status, 0, stderr)
        self.assertIn("(stopped: Enter)", stdout)
        self.assertTrue(os.path.exists(os.path.join(WORK, "enter.mp3")))

    def test_sigint_stops_and_leaves_a_decodable_file(self):
        out_path = os.path.join(WORK, "sigint.stdout")
        with open(out_path, "wb") as out:
            proc = subprocess.Popen([WINE_RUN, EXE, "record", "sigint.mp3"], cwd=WORK, stdout=out,
                                    stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL, env=environment(None))
            try:
                # Ctrl+C once the level bar has been drawn a few times: the graph is running.
                give_up = time.monotonic() + DEADLINE
                while len(status_lines(read(out_path))) < 10 and proc.poll() is None:
                    self.assertLess(time.monotonic(), give_up, "no level bar shown")
                    time.sleep(0.05)
                proc.send_signal(signal.SIGINT)
                status = proc.wait(timeout=DEADLINE)
            finally:
                if proc.poll() is None:
                    proc.kill()
        stdout = read(out_path)
        self.assertEqual(status, 0, stdout)
        self.assertIn("(stopped: Ctrl+C)", stdout)
        ok, errors = decodes(os.path.join(WORK, "sigint.mp3"))
        self.assertTrue(ok, errors)

    def test_ctrl_c_hook_stops_a_wave_recording_with_a_complete_header(self):
        status, stdout, stderr = run("record", "hook.wav", "--format", "1",
                                     env={"QUILLMAR_TEST_CTRL_C_AFTER": "8"})
        self.assertEqual(status, 0, stderr)
        self.assertIn("(stopped: Ctrl+C)", stdout)
        # The handler runs on a thread of its own, as the system's does: a level may still come first.
        self.assertGreaterEqual(len(status_lines(stdout)), 1 + 8)
        path = os.path.join(WORK, "hook.wav")
        # The RIFF and data sizes were written at the stop: they account for every byte of the file.
        chunks, riff_size = riff_chunks(path)
        self.assertEqual(riff_size + 8, os.path.getsize(path))
        self.assertEqual(chunks[-1][0], b"data")
        data_offset, data_size = chunks[-1][1], chunks[-1][2]
        self.assertEqual(data_offset + data_size, os.path.getsize(path))
        self.assertGreater(data_size, 0)
        self.assertEqual(int(soxi(path, "-s")) * 2, data_size)


class Playback(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        subprocess.run(["sox", "-n", "-r", "44100", "-c", "1", os.path.join(WORK, "tone.wav"),
                        "synth", "1.0", "sine", "440"], check=True)

    def test_plays_to_the_end(self):
        status, stdout, stderr = run("play", "tone.wav")
        self.assertEqual(status, 0, stderr)
        self.assertIn("Playing ", stdout)
        self.assertIn("(00:01.0)", stdout)
        self.assertRegex(stdout, r"Playing  00:01\.0 / 00:01\.0  \[#+\]")
        self.assertTrue(stdout.endswith("Played to the end.\n"), stdout[-200:])

    def test_q_stops_before_the_end(self):
        status, stdout, stderr = run("play", "tone.wav", stdin=b"q")
        self.assertEqual(status, 0, stderr)
        self.assertRegex(stdout, r"Stopped at \d\d:\d\d\.\d\.\n$")

    def test_space_pauses_before_q_stops(self):
        status, stdout, stderr = run("play", "tone.wav", stdin=b" q")
        self.assertEqual(status, 0, stderr)
        progress = [line for line in re.split(r"[\r\n]", stdout) if line.startswith(("Playing  ", "Paused   "))]
        self.assertTrue(progress[0].startswith("Playing  "), progress)
        self.assertTrue(progress[-1].startswith("Paused   "), progress)
        self.assertRegex(stdout, r"Stopped at \d\d:\d\d\.\d\.\n$")

    def test_ctrl_c_hook_stops_playback(self):
        status, stdout, stderr = run("play", "tone.wav", env={"QUILLMAR_TEST_CTRL_C_AFTER": "2"})
        self.assertEqual(status, 0, stderr)
        self.assertIn("Stopped at ", stdout)


class Failures(unittest.TestCase):
    LINE = r"^quillmar: (?P<what>.+) failed: 0x(?P<code>[0-9A-F]{8}) (?P<name>\S+): (?P<message>.+)$"

    def failure(self, *args):
        status, stdout, stderr = run(*args)
        self.assertEqual(status, 1, stdout + stderr)
        lines = [l for l in stderr.splitlines() if l.startswith("quillmar:")]
        self.assertEqual(len(lines), 1, stderr)
        match = re.match(self.LINE, lines[0])
        self.assertIsNotNone(match, lines[0])
        return match

    def test_missing_file_shows_code_name_and_message(self):
        match = self.failure("play", "missing.mp3")
        self.assertRegex(match["what"], r'^play ".*missing\.mp3"$')
        self.assertEqual(match["code"], "80070002")
        self.assertEqual(match["name"], "HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)")

    def test_recording_into_a_missing_directory_fails_when_the_graph_runs_and_is_released(self):
        match = self.failure("record", os.path.join("no such dir", "x.mp3"), "--seconds", "1")
        self.assertEqual(match["code"], "80070003")
        self.assertEqual(match["name"], "HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND)")

    def test_format_without_a_compressor_is_a_media_framework_code(self):
        match = self.failure("record", "none.wav", "--format", "0x1234", "--seconds", "1")
        self.assertEqual(match["code"], "8004025C")
        self.assertEqual(match["name"], "VFW_E_UNSUPPORTED_AUDIO")
        self.assertNotEqual(match["message"].strip(), "")


if __name__ == "__main__":
    result = unittest.main(argv=[sys.argv[0], "-v"], exit=False).result
    failed = len(result.failures) + len(result.errors)
    print(f"{result.testsRun - failed} passed, {failed} failed")
    sys.exit(1 if failed else 0)
