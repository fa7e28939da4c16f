#!/usr/bin/env python3
"""Decodes a long-haul recording and follows its tone, second by second.

usage: check_long_haul.py mp3|wav FILE REPORT

REPORT is the test tone device's report (its "stop ... frames=F ... rate=R frequency=Hz" line: what it
delivered). Prints the decoded length against the delivered audio and, for every whole second of the
decoded stream (the first and last left aside: the encoder's delay and tail), the tone's phase and level
against a sine and a cosine of the device's frequency (the audioop module's least-squares factors, so
that hours of audio are checked in seconds): a phase that leaves the expected course by more than 10
degrees is a jump (lost or repeated audio), a level off the median by more than 10 % a gap or a change.
Exit status 1 when the length or the tone is wrong."""
import warnings
warnings.filterwarnings("ignore", category=DeprecationWarning)
import audioop  # noqa: E402 (deprecated in 3.11, present in bookworm's Python)
import math
import re
import subprocess
import sys
import wave

kind, path, report = sys.argv[1:4]
stop = [line for line in open(report, encoding="ascii", errors="replace") if line.startswith("stop ")]
if not stop:
    print(f"{path}: the device wrote no stop line")
    sys.exit(1)
fields = dict(re.findall(r"(\w+)=([\d.]+)", stop[-1]))
rate, frequency, delivered = int(fields["rate"]), float(fields["frequency"]), int(fields["frames"])
drops = int(fields["drops"])


def chunks():
    """The decoded stream as 16-bit mono fragments of one second."""
    if kind == "mp3":
        decoder = subprocess.Popen(["mpg123", "-q", "-s", "--mono", path], stdout=subprocess.PIPE)
        read = decoder.stdout.read
    else:
        reader = wave.open(path, "rb")
        read = lambda size: reader.readframes(size // 2)  # noqa: E731
    while True:
        data = read(rate * 2)
        if not data:
            break
        yield data


sine = b"".join(int(16384 * math.sin(2 * math.pi * frequency * n / rate)).to_bytes(2, "little", signed=True)
                for n in range(rate))
cosine = b"".join(int(16384 * math.cos(2 * math.pi * frequency * n / rate)).to_bytes(2, "little", signed=True)
                  for n in range(rate))
step = 2 * math.pi * frequency % (2 * math.pi)   # the phase a whole second adds
samples = 0
seconds = []
for data in chunks():
    samples += len(data) // 2
    if len(data) == rate * 2:
        a = audioop.findfactor(data, sine)
        b = audioop.findfactor(data, cosine)
        seconds.append((math.atan2(b, a), math.hypot(a, b)))
seconds = seconds[1:-1]
decoded = samples / rate
print(f"{path}: decoded {decoded:.3f} s, the device delivered {delivered / rate:.3f} s "
      f"({(decoded - delivered / rate) * 1000:+.1f} ms), {drops} drops")
failed = drops != 0
# The encoder adds its delay and tail (MP3: under 0.1 s); the WAV file holds what came, but for the
# buffer on its way at stop (the platform stops the writer first, which refuses it).
buffer = int(fields["frames"]) // max(int(fields["buffers"]), 1)
if kind == "wav" and not 0 <= delivered - samples <= buffer:
    print(f"  FAIL: {samples} frames in the file, {delivered} delivered")
    failed = True
if kind == "mp3" and not 0 <= decoded - delivered / rate < 0.1:
    print(f"  FAIL: the decoded length is off the delivered audio")
    failed = True
if not seconds:
    print("  FAIL: no whole second of tone")
    sys.exit(1)
levels = sorted(level for _, level in seconds)
median = levels[len(levels) // 2]
jumps = gaps = 0
worst = 0.0
previous = seconds[0][0]
for index, (phase, level) in enumerate(seconds):
    deviation = math.degrees((phase - previous - (step if index else 0) + math.pi) % (2 * math.pi) - math.pi)
    worst = max(worst, abs(deviation))
    if abs(deviation) > 10:
        jumps += 1
        if jumps <= 3:
            print(f"  phase jump of {deviation:.1f} degrees at {index + 1} s")
    if abs(level - median) > 0.1 * median:
        gaps += 1
        if gaps <= 3:
            print(f"  level {level / median:.2f} of the median at {index + 1} s")
    previous = phase
print(f"  tone over {len(seconds)} whole seconds: {jumps} phase jumps, {gaps} level changes, "
      f"largest phase step {worst:.2f} degrees")
failed = failed or jumps > 0 or gaps > 0
sys.exit(1 if failed else 0)
