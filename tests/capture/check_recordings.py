#!/usr/bin/env python3
"""Checks the files that record_tests wrote, on the Linux side.

For each name given, <work>/<name>.expect (written by the Wine test after stop) tells the kind of file,
its format tag and the number of "InputLevel" calls, one per 40 ms capture buffer that passed the
tee. The file is decoded (mpg123 for MP3, sox for WAVE) and must hold the capture device's tone, a
1 kHz sine at half scale, for exactly that long: the tone's span must match the recorded length (so
the last buffer, the tail, is in the file) and the whole decoded length must be within 0.1 s of it.
The device's sine never jumps, so the decoded tone must be phase-continuous: a lost or repeated piece
of audio shows as a step in the tone's phase between one 10 ms window and the next.
WAVE files must also carry the expected format tag and a "fact" chunk with the file's sample count.
"""
import argparse
import array
import math
import operator
import os
import struct
import subprocess
import sys
import tempfile
import wave

TONE_HZ = 1000.0
TONE_RMS = 0.5 * 32767 / math.sqrt(2)
SECONDS_PER_LEVEL = 0.04
MPEG1_L3_KBPS = [0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320]

# Largest step in the tone's phase between neighbouring 10 ms windows that still counts as continuous
# (codec noise moves it by a degree or two).
PHASE_STEP_DEGREES = 10.0

failures = []


def fail(name, message):
    failures.append(f"{name}: {message}")


def read_expectation(path):
    values = {}
    with open(path) as f:
        for line in f:
            key, _, value = line.strip().partition("=")
            values[key] = value
    return values


def analyse(path, tone_hz=TONE_HZ):
    """Decoded length, the span of the tone (5 ms windows above a quarter of its level), and its
    frequency and level inside that span."""
    with wave.open(path) as w:
        rate = w.getframerate()
        channels = w.getnchannels()
        samples = array.array("h", w.readframes(w.getnframes()))
    if sys.byteorder != "little":
        samples.byteswap()
    window = rate // 200
    loud = []
    for start in range(0, len(samples) - window + 1, window):
        rms = math.sqrt(sum(x * x for x in samples[start:start + window]) / window)
        loud.append(rms > 0.25 * TONE_RMS)
    if True not in loud:
        return {"rate": rate, "channels": channels, "length": len(samples) / rate, "span": 0.0}
    first = loud.index(True)
    last = len(loud) - 1 - loud[::-1].index(True)
    tone = samples[first * window:(last + 1) * window]
    # Periods counted with hysteresis, from below -1/4 of the tone's peak to above +1/4, so that the
    # codec's low-level noise around the tone's edges adds no crossings.
    threshold = 0.25 * TONE_RMS * math.sqrt(2)
    # The frequency is measured between the first and the last of these crossings.
    crossings = []
    below = False
    for i, x in enumerate(tone):
        if x < -threshold:
            below = True
        elif x > threshold and below:
            below = False
            crossings.append(i)
    frequency = 0.0
    if len(crossings) > 1:
        frequency = (len(crossings) - 1) * rate / (crossings[-1] - crossings[0])
    steps = phase_steps(samples, rate, first * window, (last + 1) * window, tone_hz)
    return {
        "rate": rate,
        "channels": channels,
        "length": len(samples) / rate,
        "span": len(tone) / rate,
        "gaps": loud[first:last + 1].count(False),
        "frequency": frequency,
        "rms": math.sqrt(sum(x * x for x in tone) / len(tone)),
        "phase_steps": steps,
    }


def phase_steps(samples, rate, begin, end, tone_hz=TONE_HZ):
    """Where the tone's phase jumps: (seconds, degrees) for each step above PHASE_STEP_DEGREES between
    neighbouring 10 ms windows of samples[begin:end] in which the tone is at full level.

    A 10 ms window holds ten whole periods of the 1 kHz tone whenever the rate is a multiple of 100 Hz,
    so the tone's phase against a reference sine starting at every window's first sample is the same
    in every window of an unbroken tone, wherever the stream starts. Another tone (440 Hz) advances by
    the same known angle from one window to the next, which is taken off each step."""
    window = rate // 100
    omega = 2 * math.pi * tone_hz / rate
    advance = math.degrees(omega * window) % 360.0
    cos_ref = [math.cos(omega * i) for i in range(window)]
    sin_ref = [math.sin(omega * i) for i in range(window)]
    full = 0.8 * 0.5 * 32767 * window / 2  # |sum| for a tone of 80 % of the device's level
    steps = []
    previous = None
    start = begin - begin % window
    for at in range(start, end - window + 1, window):
        chunk = samples[at:at + window]
        re = sum(map(operator.mul, chunk, cos_ref))
        im = sum(map(operator.mul, chunk, sin_ref))
        if math.hypot(re, im) < full:
            continue
        phase = math.degrees(math.atan2(im, re))
        if previous is not None:
            step = abs((phase - previous + advance + 180.0) % 360.0 - 180.0)
            if step > PHASE_STEP_DEGREES:
                steps.append((at / rate, step))
        previous = phase
    return steps


def check_tone(name, info, expected_seconds, span_tolerance, tone_hz=TONE_HZ):
    if info["rate"] != 44100 or info["channels"] != 1:
        fail(name, f"decoded as {info['rate']} Hz, {info['channels']} channels")
    if abs(info["length"] - expected_seconds) > 0.1:
        fail(name, f"decoded length {info['length']:.3f} s, recorded {expected_seconds:.3f} s")
    if abs(info["span"] - expected_seconds) > span_tolerance:
        fail(name, f"tone lasts {info['span']:.3f} s, recorded {expected_seconds:.3f} s")
    if info["span"] == 0.0:
        return
    if info["gaps"]:
        fail(name, f"{info['gaps']} quiet 5 ms windows inside the tone")
    if abs(info["frequency"] - tone_hz) > 5:
        fail(name, f"tone at {info['frequency']:.1f} Hz")
    if abs(info["rms"] - TONE_RMS) > 0.1 * TONE_RMS:
        fail(name, f"tone level {info['rms']:.0f}, expected {TONE_RMS:.0f}")
    for seconds, degrees in info["phase_steps"][:3]:
        fail(name, f"the tone's phase jumps by {degrees:.0f} degrees at {seconds:.3f} s")
    print(f"{name}: recorded {expected_seconds:.3f} s, decoded {info['length']:.3f} s, tone {info['span']:.3f} s "
          f"at {info['frequency']:.1f} Hz, rms {info['rms']:.0f}")


def mp3_bitrates(path):
    """The bit rates of the file's MPEG-1 Layer III frames, walking frame by frame."""
    data = open(path, "rb").read()
    if data[:3] == b"ID3":
        size = (data[6] << 21) | (data[7] << 14) | (data[8] << 7) | data[9]
        data = data[10 + size:]
    rates = []
    pos = 0
    while pos + 4 <= len(data):
        header = struct.unpack(">I", data[pos:pos + 4])[0]
        if header >> 21 != 0x7FF or (header >> 19) & 3 != 3 or (header >> 17) & 3 != 1:
            return rates, pos
        kbps = MPEG1_L3_KBPS[(header >> 12) & 0xF] if (header >> 12) & 0xF < 15 else 0
        rate = [44100, 48000, 32000, 0][(header >> 10) & 3]
        if kbps == 0 or rate == 0:
            return rates, pos
        rates.append(kbps)
        pos += 144000 * kbps // rate + ((header >> 9) & 1)
    return rates, pos


def check_mp3(name, path, expected_seconds, mpg123, tone_hz=TONE_HZ):
    rates, end = mp3_bitrates(path)
    if end != os.path.getsize(path):
        fail(name, f"{os.path.getsize(path) - end} bytes after the last whole frame")
    if not rates:
        fail(name, "no MPEG-1 Layer III frames")
        return
    if set(rates) != {128}:
        fail(name, f"frame bit rates {sorted(set(rates))}, expected 128 kbit/s throughout")
    with tempfile.TemporaryDirectory() as scratch:
        decoded = os.path.join(scratch, "decoded.wav")
        subprocess.run([mpg123, "-q", "-w", decoded, path], check=True)
        check_tone(name, analyse(decoded, tone_hz), expected_seconds, 0.03, tone_hz)


def riff_chunks(path):
    data = open(path, "rb").read()
    if data[:4] != b"RIFF" or data[8:12] != b"WAVE":
        return None, data
    chunks = {}
    pos = 12
    while pos + 8 <= len(data):
        cid, size = struct.unpack("<4sI", data[pos:pos + 8])
        chunks[cid] = data[pos + 8:pos + 8 + size]
        pos += 8 + size + (size & 1)
    return chunks, data


def check_wav(name, path, tag, expected_seconds, sox):
    chunks, data = riff_chunks(path)
    if chunks is None or b"fmt " not in chunks or b"data" not in chunks:
        fail(name, "not a RIFF WAVE file with fmt and data chunks")
        return
    format_tag, channels, rate, _, block_align = struct.unpack("<HHIIH", chunks[b"fmt "][:14])
    if format_tag != tag or channels != 1 or rate != 44100:
        fail(name, f"format tag {format_tag:#x}, {channels} channels, {rate} Hz")
    samples_per_block = 1
    if format_tag == 0x11 and len(chunks[b"fmt "]) >= 20:
        samples_per_block = struct.unpack("<H", chunks[b"fmt "][18:20])[0]
    sox_samples = int(subprocess.run([sox, "--i", "-s", path], check=True, capture_output=True,
                                     text=True).stdout.strip())
    if b"fact" not in chunks:
        fail(name, "no fact chunk")
    else:
        fact = struct.unpack("<I", chunks[b"fact"][:4])[0]
        blocks = len(chunks[b"data"]) // block_align
        if fact != blocks * samples_per_block or fact != sox_samples:
            fail(name, f"fact {fact}, data holds {blocks * samples_per_block} samples, sox reads {sox_samples}")
        else:
            print(f"{name}: fact {fact} = {blocks} blocks of {samples_per_block}")
    with tempfile.TemporaryDirectory() as scratch:
        decoded = os.path.join(scratch, "decoded.wav")
        subprocess.run([sox, path, "-b", "16", "-e", "signed-integer", decoded], check=True)
        # A block codec stores whole blocks: the compressor's unfinished block at stop is not written.
        check_tone(name, analyse(decoded), expected_seconds, 0.006 + samples_per_block / rate)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--work", required=True)
    parser.add_argument("--mpg123", required=True)
    parser.add_argument("--sox", required=True)
    parser.add_argument("names", nargs="+")
    args = parser.parse_args()
    for name in args.names:
        expect_path = os.path.join(args.work, name + ".expect")
        if not os.path.exists(expect_path):
            fail(name, "no expectation: the recording test did not finish it")
            continue
        expected = read_expectation(expect_path)
        seconds = int(expected["levels"]) * SECONDS_PER_LEVEL
        if expected["kind"] == "mp3":
            # The device's tone: 1 kHz unless the recording names another (a chosen second device).
            check_mp3(name, os.path.join(args.work, name + ".mp3"), seconds, args.mpg123,
                      float(expected.get("tone", TONE_HZ)))
        else:
            check_wav(name, os.path.join(args.work, name + ".wav"), int(expected["tag"]), seconds, args.sox)
    for failure in failures:
        print("FAILED " + failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
