#!/usr/bin/env python3
"""Runs reliability.exe under Wine, then checks every file it recorded and prints the summary table.

    run_reliability.py --wine-run W --program P --work DIR --mpg123 M --sox S [-- program arguments]

The program lists its files in DIR/files.txt as "name kind tag levels limit may-lack-last". A file
with levels > 0 and no limit must hold the capture device's tone for levels x 40 ms, whole and
phase-continuous (check_recordings.py's checks); where stop may have met the last buffer on its way
to the writer (may-lack-last 1), for one buffer less if not for all. A file with a limit was cut by a full disk: it must be no longer than
the limit and not much shorter, and hold an unbroken tone in whole MP3 frames; only its last frame may
be cut short (a disk fills up where it does, not at a frame's end). A file with no
levels (the device never started) may be missing; if it exists it must be a valid, empty file.
"""
import argparse
import contextlib
import io
import os
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "capture"))
import check_recordings as recordings  # noqa: E402

# How far short of the disk's limit a cut MP3 may end: the delivery that did not fit is lost whole
# (at 128 kbit/s a frame is 417 or 418 bytes; a delivery holds a few).
CUT_SLACK_BYTES = 4 * 418
# The frames an MP3 recording may hold when its device never started: the encoder's 48 samples of
# start-up silence and LAME's flush of them.
EMPTY_MP3_FRAMES = 3


SAMPLES_PER_FRAME = 1152
RATE = 44100


def cut_frame_length(data):
    """The length of the frame whose start is data (a Layer III header at 44100 Hz), or None."""
    if len(data) < 4 or data[0] != 0xFF or (data[1] & 0xE0) != 0xE0:
        return None
    index = data[2] >> 4
    if (data[1] >> 1) & 3 != 1 or (data[1] >> 3) & 3 != 3 or not 0 < index < 15 or (data[2] >> 2) & 3 != 0:
        return None
    return 144000 * recordings.MPEG1_L3_KBPS[index] // RATE + ((data[2] >> 1) & 1)


def check_cut_mp3(name, path, limit, levels, mpg123):
    size = os.path.getsize(path)
    if size > limit:
        recordings.fail(name, f"{size} bytes on a disk that took {limit}")
    elif size < limit - CUT_SLACK_BYTES:
        recordings.fail(name, f"{size} bytes, but the disk took {limit}: audio that fitted is missing")
    rates, end = recordings.mp3_bitrates(path)
    # Behind the last whole frame at most the beginning of one more: its header (or the part of it
    # that fitted) and less than the frame's length.
    tail = open(path, "rb").read()[end:]
    if tail:
        length = cut_frame_length(tail)
        if len(tail) >= 4 and (length is None or len(tail) >= length):
            recordings.fail(name, f"{len(tail)} bytes after the last whole frame are not one cut frame")
        elif len(tail) < 4 and (tail[0] != 0xFF or (len(tail) > 1 and (tail[1] & 0xE0) != 0xE0)):
            recordings.fail(name, f"{len(tail)} bytes after the last whole frame are no frame's beginning")
    if not rates:
        recordings.fail(name, "no MPEG-1 Layer III frames")
        return
    # The whole frames hold what the device delivered until the disk was full, never more.
    seconds = len(rates) * SAMPLES_PER_FRAME / RATE
    if seconds > levels * recordings.SECONDS_PER_LEVEL + SAMPLES_PER_FRAME / RATE:
        recordings.fail(name, f"{len(rates)} frames ({seconds:.3f} s), but only {levels} buffers were recorded")
    with tempfile.TemporaryDirectory() as scratch:
        decoded = os.path.join(scratch, "decoded.wav")
        subprocess.run([mpg123, "-q", "-w", decoded, path], check=True)
        info = recordings.analyse(decoded)
        # Every whole frame decodes, and the tone runs from the encoder's start to the cut: no hole and
        # no jump in between (the span leaves out the codec's delay at the start).
        recordings.check_tone(name, info, seconds, 0.1)


def check_empty(name, path, kind, mpg123):
    if not os.path.exists(path) or os.path.getsize(path) == 0:
        return
    if kind == "mp3":
        rates, end = recordings.mp3_bitrates(path)
        if end != os.path.getsize(path):
            recordings.fail(name, "not a whole number of MP3 frames")
            return
        # At most what the encoder holds without input: its start-up silence, flushed.
        if len(rates) > EMPTY_MP3_FRAMES:
            recordings.fail(name, f"{len(rates)} frames in a recording whose device never started")
        with tempfile.TemporaryDirectory() as scratch:
            decoded = os.path.join(scratch, "decoded.wav")
            subprocess.run([mpg123, "-q", "-w", decoded, path], check=True)
            if recordings.analyse(decoded)["span"] != 0.0:
                recordings.fail(name, "holds the tone, but the device never started")
        return
    chunks, _ = recordings.riff_chunks(path)
    if chunks is None or b"fmt " not in chunks or b"data" not in chunks:
        recordings.fail(name, "not a RIFF WAVE file with fmt and data chunks")
    elif chunks[b"data"]:
        recordings.fail(name, f"{len(chunks[b'data'])} bytes of audio, but the device never started")


def check_files(work, mpg123, sox):
    listed = os.path.join(work, "files.txt")
    if not os.path.exists(listed):
        return 0, 0
    checked = failed = 0
    for line in open(listed):
        name, kind, tag, levels, limit, may_lack_last = line.split()
        path = os.path.join(work, name)
        tag, levels, limit = int(tag), int(levels), int(limit)
        before = len(recordings.failures)
        output = io.StringIO()
        with contextlib.redirect_stdout(output):
            if not os.path.exists(path) and levels > 0:
                recordings.fail(name, "no file")
            elif limit:
                check_cut_mp3(name, path, limit, levels, mpg123)
            elif levels == 0:
                check_empty(name, path, kind, mpg123)
            else:
                for buffers in [levels, levels - 1] if may_lack_last == "1" else [levels]:
                    del recordings.failures[before:]
                    seconds = buffers * recordings.SECONDS_PER_LEVEL
                    if kind == "mp3":
                        recordings.check_mp3(name, path, seconds, mpg123)
                    else:
                        recordings.check_wav(name, path, tag, seconds, sox)
                    if len(recordings.failures) == before:
                        break
        checked += 1
        if len(recordings.failures) > before:
            failed += 1
            print(output.getvalue(), end="")
    return checked, failed


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--wine-run", required=True)
    parser.add_argument("--program", required=True)
    parser.add_argument("--work", required=True)
    parser.add_argument("--mpg123", required=True)
    parser.add_argument("--sox", required=True)
    parser.add_argument("arguments", nargs="*")
    args = parser.parse_args()
    os.makedirs(args.work, exist_ok=True)
    for old in os.listdir(args.work):
        if old.endswith((".mp3", ".wav", ".txt", ".log")):
            os.remove(os.path.join(args.work, old))

    program = subprocess.run([args.wine_run, args.program] + args.arguments, cwd=args.work)
    rows = []
    summary = os.path.join(args.work, "summary.txt")
    if os.path.exists(summary):
        rows = [line.rstrip("\n").split("\t") for line in open(summary) if line.strip()]
    checked, failed = check_files(args.work, args.mpg123, args.sox)

    print()
    print(f"{'group':<8} {'cases':>6} {'failures':>9} {'worst ms':>10}  worst call")
    total_failures = failed
    for group, cases, failures, worst_ms, worst_call in rows:
        print(f"{group:<8} {cases:>6} {failures:>9} {worst_ms:>10}  {worst_call}")
        total_failures += int(failures)
    print(f"{'files':<8} {checked:>6} {failed:>9} {'-':>10}  decoded and checked on Linux")
    resources = os.path.join(args.work, "resources.txt")
    if os.path.exists(resources):
        print("resources over the soak: " + open(resources).read().strip())
    failures_file = os.path.join(args.work, "failures.txt")
    if os.path.exists(failures_file):
        for line in open(failures_file):
            print("FAILED " + line.rstrip())
    for failure in recordings.failures:
        print("FAILED " + failure)
    if not rows:
        print("FAILED the program wrote no summary (exit code %d)" % program.returncode)
        return 1
    return 1 if total_failures or program.returncode else 0


if __name__ == "__main__":
    sys.exit(main())
