#!/usr/bin/env python3
"""quillmar.exe as a user runs it, under Wine in the test prefix whose default capture device is the
stand-in tone device: argument errors and help, version and device listing, recordings stopped by the time
limit (holding that much audio), by Enter, q and Ctrl+C (a real SIGINT and the in-process hook), playback
to the end and stopped by q, the logs' directory, and the failure output. Files are checked on the Linux side with soxi and mpg123.

usage: quillmar_cli_test.py WINE_RUN QUILLMAR_EXE WORK_DIR
"""
import array
import http.server
import os
import re
import shutil
import signal
import socket
import subprocess
import sys
import threading
import time
import unittest
import wave

WINE_RUN, EXE, WORK = sys.argv[1:4]
DEADLINE = 60  # seconds: a guard against hanging, never a measured expectation
BUFFER = 0.0401  # seconds: one capture buffer, with room for rounding


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


def read_bytes(path):
    """The file's bytes, or None when there is no such file."""
    try:
        with open(path, "rb") as f:
            return f.read()
    except FileNotFoundError:
        return None


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
    def test_usage_errors_exit_2_with_one_line_and_a_hint(self):
        cases = {
            (): "no command given",
            ("frobnicate",): "frobnicate",
            ("record",): "file is required",
            ("record", "x.ogg"): 'cannot tell the format of "x.ogg" from its extension',
            ("record", "surprise.wav", "--format", "mp3"): "is named .wav but --format mp3 writes MP3",
            ("record", "x.mp3", "--format", "ogg"): "--format must be mp3, pcm or a wave format tag",
            ("record", "x.wav", "--rate", "96000"): "--rate 96000 Hz is not supported; use one of 8000,",
            ("record", "x.mp3", "--bitrate", "1"): "--bitrate 1 is not an MP3 bit rate at 44100 Hz; use one of 32000,",
            ("record", "x.mp3", "--seconds", "-1"): "--seconds must be above 0",
            ("record", "x.mp3", "-c", "3"): "--channels must be 1 or 2, got 3",
            ("record", "x.mp3", "--vbr", "10"): "--vbr must be 0 (best) to 9 (smallest), got 10",
            ("record", "x.wav", "--vbr", "2"): "--vbr applies to MP3 only",
            ("record", "x.mp3", "--vbr", "2", "-b", "128k"): "--bitrate excludes --vbr",
            ("record", "-", "-f", "pcm", "--vbr", "2"): "--vbr applies to MP3 only",
            ("record", "x.mp3", "y.mp3"): "y.mp3",
            ("play",): "source is required",
        }
        for args, reason in cases.items():
            with self.subTest(args=args):
                status, stdout, stderr = run(*args)
                self.assertEqual(status, 2, stderr)
                self.assertEqual(len(stderr.splitlines()), 1, stderr)
                self.assertTrue(stderr.startswith("quillmar: "), stderr)
                self.assertIn(reason, stderr)
                self.assertIn("--help)", stderr)
                self.assertEqual(stdout, "")
        for name in ("x.mp3", "x.wav", "surprise.wav"):
            self.assertFalse(os.path.exists(os.path.join(WORK, name)), "no file is made for a usage error")

    def test_each_command_has_its_own_help_and_the_program_a_version(self):
        status, stdout, _ = run("record", "--help")
        self.assertEqual(status, 0)
        self.assertIn("-r,--rate HZ", stdout)
        status, stdout, _ = run("play", "--help")
        self.assertEqual(status, 0)
        self.assertIn("Usage: quillmar play [OPTIONS] source", stdout)
        status, stdout, _ = run("--version")
        self.assertEqual(status, 0)
        self.assertRegex(stdout, r"^quillmar     \d+\.\d+\.\d+\.\d+\n")


class Information(unittest.TestCase):
    def test_version_names_each_version_and_the_logs(self):
        status, stdout, _ = run("version")
        self.assertEqual(status, 0)
        self.assertRegex(stdout, r"Tessaro.dll  \d+\.\d+\.\d+\.\d+  .*Tessaro.dll\n")
        self.assertIn("Drovane.tar  not found", stdout)
        self.assertRegex(stdout, r"Logs         .*quillmar_cli \(Tessaro.log, MPEG2AudioEncoder.log; each run replaces them\)")

    def test_devices_lists_the_tone_stand_in_first_and_the_format_tags(self):
        status, stdout, _ = run("devices")
        self.assertEqual(status, 0)
        devices, formats = stdout.split("Formats", 1)
        inputs, outputs = devices.split("Audio output devices", 1)
        self.assertRegex(outputs, r"^ \(play --device N or a part of the name; without it, the default\):\n"
                                  r"\s+1\. .+\s+\(default\)\n")
        self.assertEqual(outputs.count("(default)"), 1)
        self.assertRegex(inputs, r"\n\s+1\. Test Tone Capture\s+\(default\)\n")
        self.assertRegex(inputs, r"\n\s+2\. Test Low Tone Capture\n")
        self.assertEqual(inputs.count("(default)"), 1)
        self.assertRegex(formats, r"\n  \s+0x0011  .*Test ACM IMA ADPCM")
        self.assertRegex(formats, r"\n  pcm     0x0001  ")


SUMMARY = (r"Recorded (?P<recorded>\d+\.\d\d) s \(stopped: (?P<why>[^)]+)\)\. "
           r"The file holds (?P<held>\d+\.\d\d) s, \d+ bytes: .*")


class Recording(unittest.TestCase):
    def summary(self, stdout):
        match = re.search(SUMMARY, stdout)
        self.assertIsNotNone(match, stdout)
        return match

    def test_mp3_holds_the_time_asked_for_and_redirected_output_has_no_live_line(self):
        status, stdout, stderr = run("record", "one second.mp3", "--seconds=1", "-b", "96k")
        self.assertEqual(status, 0, stderr)
        self.assertIn("MP3 at 96 kbit/s, 44100 Hz mono", stderr)
        self.assertNotIn("\r", stdout + stderr)
        match = self.summary(stdout)
        self.assertEqual(match["why"], "time limit")
        self.assertGreaterEqual(float(match["recorded"]), 1.0)
        self.assertRegex(stdout, r"\\one second\.mp3; no audio lost\n")
        path = os.path.join(WORK, "one second.mp3")
        ok, errors = decodes(path)
        self.assertTrue(ok, errors)
        decoded = len(subprocess.run(["mpg123", "-q", "-s", path], capture_output=True).stdout) / 2 / 44100
        # What the tool says the file holds is what a decoder finds, and that is the time asked for,
        # within one 40 ms buffer and the encoder's own delay (one frame of 26 ms each side).
        self.assertAlmostEqual(float(match["held"]), decoded, delta=0.06)
        self.assertAlmostEqual(decoded, 1.0, delta=BUFFER + 0.06)
        # The time told as recorded is what the file holds.
        self.assertAlmostEqual(float(match["recorded"]), decoded, delta=BUFFER + 0.06)

    def test_audio_the_device_lost_ends_the_summary(self):
        # The stand-in device holds 400 ms and its thread stalls for 500 ms once 400 ms are delivered.
        report = os.path.join(WORK, "drops.txt")
        if os.path.exists(report):
            os.remove(report)
        status, stdout, stderr = run("record", "drops.wav", "--seconds=2", name="drops",
                                     env={"TESSARO_TEST_CAPTURE_HOLD_MS": "400",
                                          "TESSARO_TEST_CAPTURE_DROP_AT_MS": "400",
                                          "TESSARO_TEST_CAPTURE_REPORT": "drops.txt"})
        self.assertEqual(status, 0, stderr)
        match = re.search(r"\\drops\.wav; lost (\d+) ms in (\d+) gaps?\n", stdout)
        self.assertIsNotNone(match, stdout)
        drops = [int(re.search(r" time=(\d+)", line).group(1)) / 1e7
                 for line in read(report).splitlines() if line.startswith("drop ")]
        gaps = int(match.group(2))
        # A drop right before the stop, with no audio after it, may go unseen on a loaded machine.
        self.assertIn(len(drops) - gaps, (0, 1), (drops, stdout))
        self.assertAlmostEqual(int(match.group(1)) / 1000, sum(drops[:gaps]), delta=BUFFER)
        self.assertTrue(match.group(0).endswith("in 1 gap\n") == (gaps == 1))

    def test_pcm_at_22050_holds_the_time_asked_for(self):
        status, stdout, stderr = run("record", "pcm.wav", "-r", "22050", "-s", "2")
        self.assertEqual(status, 0, stderr)
        self.assertIn("PCM WAVE, 16-bit, 22050 Hz mono", stderr)
        path = os.path.join(WORK, "pcm.wav")
        self.assertEqual(soxi(path, "-r"), "22050")
        self.assertEqual(soxi(path, "-e"), "Signed Integer PCM")
        match = self.summary(stdout)
        self.assertAlmostEqual(float(match["held"]), float(soxi(path, "-D")), delta=0.01)
        # Within one 40 ms buffer (the last one may still be on its way to the writer at the stop).
        self.assertAlmostEqual(float(soxi(path, "-D")), 2.0, delta=BUFFER)

    def test_device_chosen_by_number_records_its_tone_and_an_unknown_name_is_a_usage_error(self):
        status, stdout, stderr = run("record", "low.wav", "--device", "2", "--seconds", "1")
        self.assertEqual(status, 0, stderr)
        self.assertIn("from Test Low Tone Capture, PCM WAVE", stderr)
        self.assertEqual(self.summary(stdout)["why"], "time limit")
        with wave.open(os.path.join(WORK, "low.wav")) as w:
            samples = array.array("h", w.readframes(w.getnframes()))
        rises = sum(1 for a, b in zip(samples, samples[1:]) if a < 0 <= b)
        self.assertAlmostEqual(rises / (len(samples) / 44100), 440, delta=10)
        for name, reason in (("nonesuch", 'names no input device'), ("tone capture", "fits 2 input devices")):
            with self.subTest(device=name):
                status, stdout, stderr = run("record", "unknown.mp3", "--device", name)
                self.assertEqual(status, 2, stderr)
                self.assertEqual(len(stderr.splitlines()), 1, stderr)
                self.assertIn(reason, stderr)
                self.assertIn("1. Test Tone Capture, 2. Test Low Tone Capture", stderr)
                self.assertFalse(os.path.exists(os.path.join(WORK, "unknown.mp3")))

    def test_quiet_prints_the_result_only(self):
        status, stdout, stderr = run("-q", "record", "quiet.wav", "--seconds", "0.2")
        self.assertEqual(status, 0, stderr)
        # Wine's own audio libraries may complain on stderr; quillmar itself says nothing there.
        self.assertEqual([line for line in stderr.splitlines() if not line.startswith("ALSA lib")], [])
        self.summary(stdout)

    def test_enter_and_q_stop_and_are_told_apart(self):
        for key, why in ((b"\n", "Enter"), (b"q", "q")):
            with self.subTest(why=why):
                status, stdout, stderr = run("record", "key.mp3", stdin=key)
                self.assertEqual(status, 0, stderr)
                self.assertEqual(self.summary(stdout)["why"], why)

    def test_log_dir_moves_the_logs_but_not_the_file(self):
        # Nothing of an earlier run counts: the directory and the file are made by this run, and the log
        # in the working directory (other runs write it there) is left as it was.
        shutil.rmtree(os.path.join(WORK, "logs"), ignore_errors=True)
        beside = os.path.join(WORK, "beside.wav")
        if os.path.exists(beside):
            os.remove(beside)
        default_log = os.path.join(WORK, "Tessaro.log")
        before = read_bytes(default_log)
        status, stdout, stderr = run("--log-dir", "logs", "record", "beside.wav", "--seconds", "0.2")
        self.assertEqual(status, 0, stderr)
        self.assertTrue(os.path.exists(beside))
        self.assertTrue(os.path.exists(os.path.join(WORK, "logs", "Tessaro.log")))
        self.assertEqual(read_bytes(default_log), before, "the run wrote to the log in the working directory")

    def test_sigint_stops_and_leaves_a_decodable_file(self):
        out_path = os.path.join(WORK, "sigint.stdout")
        path = os.path.join(WORK, "sigint.mp3")
        if os.path.exists(path):
            os.remove(path)
        with open(out_path, "wb") as out:
            proc = subprocess.Popen([WINE_RUN, EXE, "record", "sigint.mp3"], cwd=WORK, stdout=out,
                                    stderr=subprocess.DEVNULL, stdin=subprocess.DEVNULL, env=environment(None))
            try:
                # Ctrl+C once audio reaches the file: the graph is running.
                give_up = time.monotonic() + DEADLINE
                while (not os.path.exists(path) or os.path.getsize(path) < 4096) and proc.poll() is None:
                    self.assertLess(time.monotonic(), give_up, "nothing recorded")
                    time.sleep(0.05)
                proc.send_signal(signal.SIGINT)
                status = proc.wait(timeout=DEADLINE)
            finally:
                if proc.poll() is None:
                    proc.kill()
        stdout = read(out_path)
        self.assertEqual(status, 0, stdout)
        self.assertEqual(self.summary(stdout)["why"], "Ctrl+C")
        ok, errors = decodes(path)
        self.assertTrue(ok, errors)

    def test_ctrl_c_hook_stops_a_wave_recording_with_a_complete_header(self):
        status, stdout, stderr = run("record", "hook.wav", "--format", "1",
                                     env={"QUILLMAR_TEST_CTRL_C_AFTER": "8"})
        self.assertEqual(status, 0, stderr)
        match = self.summary(stdout)
        self.assertEqual(match["why"], "Ctrl+C")
        self.assertGreater(float(match["recorded"]), 0.0)
        path = os.path.join(WORK, "hook.wav")
        # The RIFF and data sizes were written at the stop: they account for every byte of the file.
        chunks, riff_size = riff_chunks(path)
        self.assertEqual(riff_size + 8, os.path.getsize(path))
        self.assertEqual(chunks[-1][0], b"data")
        data_offset, data_size = chunks[-1][1], chunks[-1][2]
        self.assertEqual(data_offset + data_size, os.path.getsize(path))
        self.assertGreater(data_size, 0)
        self.assertEqual(int(soxi(path, "-s")) * 2, data_size)


def tones(samples, channels, rate):
    """The frequency of each channel's tone (upward crossings a second) of interleaved samples."""
    result = []
    for channel in range(channels):
        one = samples[channel::channels]
        # With hysteresis, so that a codec's noise around zero counts no crossing of its own; timed from
        # the first rise to the last, so that a codec's silence at either end does not count.
        rises, low = [], False
        for index, sample in enumerate(one):
            if sample < -1000:
                low = True
            elif sample > 1000 and low:
                rises.append(index)
                low = False
        result.append((len(rises) - 1) / ((rises[-1] - rises[0]) / rate) if len(rises) > 1 else 0.0)
    return result


def decoded(path):
    """mpg123's samples of an MP3 file: (interleaved 16-bit samples, channels)."""
    channels = int(soxi(path, "-c"))
    proc = subprocess.run(["mpg123", "-q", "-s", path], capture_output=True, check=True)
    return array.array("h", proc.stdout), channels


class Streaming(unittest.TestCase):
    """record - to standard output, read from a pipe; stereo and VBR files read by independent readers."""
    MONO_TONE = None

    @classmethod
    def setUpClass(cls):
        status, _, stderr = run("record", "mono.wav", "-s", "1", name="mono")
        assert status == 0, stderr
        with wave.open(os.path.join(WORK, "mono.wav")) as w:
            cls.MONO_TONE = tones(array.array("h", w.readframes(w.getnframes())), 1, 44100)[0]

    def piped(self, args, reader, name):
        """Runs quillmar with its standard output piped into the reader's standard input."""
        err_path = os.path.join(WORK, name + ".stderr")
        with open(err_path, "wb") as err:
            tool = subprocess.Popen([WINE_RUN, EXE, *args], cwd=WORK, stdout=subprocess.PIPE, stderr=err,
                                    stdin=subprocess.DEVNULL, env=environment(None))
            sink = subprocess.run(reader, cwd=WORK, stdin=tool.stdout, capture_output=True, timeout=DEADLINE)
            tool.stdout.close()
            status = tool.wait(timeout=DEADLINE)
        return status, sink, read(err_path)

    def test_mp3_to_standard_output_piped_into_sox(self):
        status, sox, stderr = self.piped(["record", "-", "-f", "mp3", "-s", "3"],
                                         ["sox", "-t", "mp3", "-", "piped-mp3.wav"], "piped-mp3")
        self.assertEqual((status, sox.returncode), (0, 0), stderr + sox.stderr.decode(errors="replace"))
        self.assertRegex(stderr, r"Recorded 3\.0\d s \(stopped: time limit\)\. Standard output got \d+ "
                                 r"bytes: MP3 at 128 kbit/s, 44100 Hz mono; no audio lost; stream complete\n")
        path = os.path.join(WORK, "piped-mp3.wav")
        # The time asked for within a buffer and the encoder's delay (a frame each side).
        self.assertAlmostEqual(float(soxi(path, "-D")), 3.0, delta=BUFFER + 0.06)
        with wave.open(path) as w:
            samples = array.array("h", w.readframes(w.getnframes()))
        self.assertAlmostEqual(tones(samples, 1, 44100)[0], self.MONO_TONE, delta=5)

    def test_stereo_wave_to_standard_output_has_an_unknown_length_header_that_sox_reads_from_a_pipe(self):
        status, sox, stderr = self.piped(["record", "-", "-f", "pcm", "-c", "2", "-s", "2"],
                                         # A reader that comes late: the tool writes everything before it exits.
                                         ["sh", "-c", "sleep 3; tee piped.raw | sox -t wav - piped-stereo.wav"],
                                         "piped-wav")
        self.assertEqual((status, sox.returncode), (0, 0), stderr + sox.stderr.decode(errors="replace"))
        self.assertIn("PCM WAVE, 16-bit, 44100 Hz stereo; no audio lost; stream complete\n", stderr)
        head = read_bytes(os.path.join(WORK, "piped.raw"))[:44]
        self.assertEqual((head[0:4], head[4:8], head[8:16]), (b"RIFF", b"\xff\xff\xff\xff", b"WAVEfmt "))
        self.assertEqual((head[36:40], head[40:44]), (b"data", b"\xff\xff\xff\xff"))
        with wave.open(os.path.join(WORK, "piped-stereo.wav")) as w:
            self.assertEqual((w.getnchannels(), w.getframerate()), (2, 44100))
            self.assertAlmostEqual(w.getnframes() / 44100, 2.0, delta=BUFFER)
            left, right = tones(array.array("h", w.readframes(w.getnframes())), 2, 44100)
        self.assertAlmostEqual(left, self.MONO_TONE, delta=5)
        self.assertAlmostEqual(right, 1.5 * left, delta=10, msg="the right channel carries its own tone")

    def test_stereo_and_vbr_mp3_files_decode_to_their_channels_and_length(self):
        status, _, stderr = run("record", "stereo.mp3", "-c", "2", "-s", "2", name="stereo")
        self.assertEqual(status, 0, stderr)
        self.assertIn("MP3 at 128 kbit/s, 44100 Hz stereo", stderr)
        samples, channels = decoded(os.path.join(WORK, "stereo.mp3"))
        self.assertEqual(channels, 2)
        left, right = tones(samples, 2, 44100)
        self.assertAlmostEqual(left, self.MONO_TONE, delta=5)
        self.assertAlmostEqual(right, 1.5 * left, delta=5, msg="the right channel carries its own tone")

        status, stdout, stderr = run("record", "vbr.mp3", "--vbr", "2", "-s", "2", name="vbr")
        self.assertEqual(status, 0, stderr)
        self.assertIn("MP3 at a variable bit rate of quality 2, 44100 Hz mono", stderr)
        path = os.path.join(WORK, "vbr.mp3")
        self.assertIn(b"Xing", read_bytes(path)[:2000], "a VBR file carries its tag frame")
        samples, channels = decoded(path)
        self.assertAlmostEqual(len(samples) / channels / 44100, 2.0, delta=BUFFER + 0.06)
        self.assertAlmostEqual(float(re.search(SUMMARY, stdout)["held"]), 2.0, delta=BUFFER + 0.06)


class Playback(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        subprocess.run(["sox", "-n", "-r", "44100", "-c", "1", os.path.join(WORK, "tone.wav"),
                        "synth", "1.0", "sine", "440"], check=True)

    def test_plays_to_the_end(self):
        status, stdout, stderr = run("play", "tone.wav")
        self.assertEqual(status, 0, stderr)
        self.assertIn("Playing ", stderr)
        self.assertIn("(00:01.0)", stderr)
        self.assertEqual(stdout, "Played to the end.\n")

    def test_space_pauses_before_q_stops(self):
        status, stdout, stderr = run("play", "tone.wav", stdin=b" q")
        self.assertEqual(status, 0, stderr)
        self.assertRegex(stderr, r"\nPaused at \d\d:\d\d\.\d\.\n")
        self.assertRegex(stdout, r"^Stopped at \d\d:\d\d\.\d\.\n$")

    def test_start_arrows_and_volume_move_and_change_the_playback(self):
        subprocess.run(["sox", "-n", "-r", "44100", "-c", "1", os.path.join(WORK, "long.wav"),
                        "synth", "8.0", "sine", "440"], check=True)
        status, stdout, stderr = run("play", "long.wav", "--start", "5", stdin=b"q")
        self.assertEqual(status, 0, stderr)
        self.assertIn("(00:08.0) from 00:05.0;", stderr)
        self.assertRegex(stdout, r"^Stopped at 00:05\.[0-3]\.\n$")
        # A terminal's right and up arrows, then q: 5 s on, from the volume asked for one step up.
        status, stdout, stderr = run("play", "long.wav", "--volume", "50", stdin=b"\x1b[C\x1b[Aq")
        self.assertEqual(status, 0, stderr)
        self.assertRegex(stderr, r"\nMoved to 00:05\.[0-3]\.\nVolume 60%\.\n")
        self.assertRegex(stdout, r"^Stopped at 00:05\.[0-3]\.\n$")
        status, _, stderr = run("play", "tone.wav", "--start", "2")
        self.assertEqual(status, 2, stderr)
        self.assertRegex(stderr, r'--start 00:02\.0 is past the end of ".*tone\.wav" \(00:01\.0\)')

    def test_output_device_chosen_by_number_and_by_name_and_an_unknown_one_is_a_usage_error(self):
        _, stdout, _ = run("devices")
        outputs = re.findall(r"^\s+\d+\. (.+?)(?:\s+\(default\))?$", stdout.split("Audio output devices")[1]
                             .split("Formats")[0], re.M)
        self.assertGreaterEqual(len(outputs), 2, stdout)
        for choice in ("2", outputs[1]):
            with self.subTest(device=choice):
                status, stdout, stderr = run("play", "tone.wav", "--device", choice)
                self.assertEqual(status, 0, stderr)
                self.assertIn(f"(00:01.0) on {outputs[1]};", stderr)
                self.assertEqual(stdout, "Played to the end.\n")
        status, stdout, stderr = run("play", "tone.wav", "--device", "nonesuch")
        self.assertEqual(status, 2, stderr)
        # Wine's ALSA driver, loaded when the audio renderers are listed, complains on stderr: not the tool's.
        self.assertEqual(len([l for l in stderr.splitlines() if not l.startswith("ALSA lib ")]), 1, stderr)
        self.assertIn(f'names no output device; the output devices are: 1. {outputs[0]}, 2. {outputs[1]}', stderr)

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
        # A path that starts with / is a path (the drive's root), not a Windows-style option.
        for path in (os.path.join("no such dir", "x.mp3"), "/tessaro no such dir/x.mp3"):
            with self.subTest(path=path):
                match = self.failure("record", path, "--seconds", "1")
                self.assertRegex(match["what"], r'^record ".*no such dir[\\/]x\.mp3"$')
                self.assertEqual(match["code"], "80070003")
                self.assertEqual(match["name"], "HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND)")

    def test_a_url_that_cannot_be_opened_says_what_happened_to_it(self):
        class NotFound(http.server.BaseHTTPRequestHandler):
            def do_GET(self):
                self.send_error(404)

            def log_message(self, *args):
                pass

        server = http.server.HTTPServer(("127.0.0.1", 0), NotFound)
        threading.Thread(target=server.serve_forever, daemon=True).start()
        self.addCleanup(server.server_close)
        self.addCleanup(server.shutdown)
        with socket.socket() as closed:  # a port that nothing listens on: the connection is refused
            closed.bind(("127.0.0.1", 0))
            refused_port = closed.getsockname()[1]
        cases = [
            (f"http://127.0.0.1:{server.server_port}/missing.mp3", "800C0006", "INET_E_OBJECT_NOT_FOUND", "not found"),
            (f"http://127.0.0.1:{refused_port}/x.mp3", "800C0004", "INET_E_CANNOT_CONNECT", "refused"),
            ("xyz://127.0.0.1/x.mp3", "800C000D", "INET_E_UNKNOWN_PROTOCOL", "protocol"),
        ]
        for url, code, name, said in cases:
            with self.subTest(url=url):
                match = self.failure("play", url)
                self.assertEqual(match["what"], f'play "{url}"')
                self.assertEqual((match["code"], match["name"]), (code, name))
                self.assertIn(said, match["message"])

    def test_a_text_file_is_said_to_be_no_audio(self):
        with open(os.path.join(WORK, "notes.txt"), "w") as f:
            f.write("not audio\n" * 100)
        match = self.failure("play", "notes.txt")
        self.assertRegex(match["what"], r'^play ".*notes\.txt" \(not a WAVE or MP3 file\)$')

    def test_a_lost_device_or_a_failed_write_ends_a_recording_with_exit_status_1(self):
        # Through the stand-ins: the tone device goes away after 600 ms; the File Writer behind the MP3
        # encoder fails as on a full disk after 8000 bytes (half a second at 128 kbit/s).
        cases = [("lost.wav", {"TESSARO_TEST_CAPTURE_LOSE_AT_MS": "600"}, "capture device lost",
                  r'^quillmar: record ".*lost\.wav" failed: the capture device was lost$'),
                 ("full.mp3", {"TESSARO_TEST_WRITE_FAIL_AFTER": "8000"}, "aborted by an error",
                  r'^quillmar: record ".*full\.mp3" failed: 0x80070070 HRESULT_FROM_WIN32\(ERROR_DISK_FULL\): ')]
        for file, env, why, line in cases:
            with self.subTest(file):
                status, stdout, stderr = run("record", file, "--seconds", "8", env=env, name=file)
                self.assertEqual(status, 1, stdout + stderr)
                match = re.search(SUMMARY, stdout)
                self.assertIsNotNone(match, stdout)
                self.assertEqual(match["why"], why)
                self.assertLess(float(match["recorded"]), 8.0)
                errors = [l for l in stderr.splitlines() if l.startswith("quillmar:")]
                self.assertEqual(len(errors), 1, stderr)
                self.assertRegex(errors[0], line)

    def test_stereo_from_a_mono_device_fails_at_once_without_a_file(self):
        status, stdout, stderr = run("record", "mono-only.wav", "-c", "2", "-s", "1", name="mono-only",
                                     env={"TESSARO_TEST_CAPTURE_MONO_ONLY": "1"})
        self.assertEqual(status, 1, stderr)
        self.assertRegex(stderr, r'quillmar: record ".*mono-only\.wav" failed: 0x80040207 VFW_E_NO_ACCEPTABLE_TYPES')
        self.assertFalse(os.path.exists(os.path.join(WORK, "mono-only.wav")))

    def test_format_without_a_compressor_is_a_media_framework_code(self):
        match = self.failure("record", "none.wav", "--format", "0x1234", "--seconds", "1")
        self.assertEqual(match["message"], "no audio compressor of the system produces this format")
        self.assertEqual(match["code"], "8004025C")
        self.assertEqual(match["name"], "VFW_E_UNSUPPORTED_AUDIO")


if __name__ == "__main__":
    result = unittest.main(argv=[sys.argv[0], "-v"], exit=False).result
    failed = len(result.failures) + len(result.errors) + len(result.unexpectedSuccesses)
    print(f"{result.testsRun - failed} passed, {failed} failed")
    if result.testsRun == 0:
        print("no test was collected")
    sys.exit(1 if failed or result.testsRun == 0 else 0)
