#!/usr/bin/env python3
"""Reads back the WAVE files that the WAV writer wrote under Wine, with readers that share nothing
with it: a RIFF walk of our own, Python's wave module and sox.

For each NAME.wav with a NAME.expect.raw next to it, the data chunk must hold exactly those bytes and
the chunks must come as RIFF/WAVE, "fmt ", "fact", "data" with consistent sizes. PCM files must read
back sample-exact through wave and through sox; the IMA ADPCM file must be accepted by sox with the
sample count its blocks hold. The file of the write-failure test must still be a readable WAVE file,
and so must the files of recordings whose process was killed 3 s in (16-bit, and 8-bit at 11025 Hz
with an odd number of data bytes), each holding at least 1.5 s and no RIFF size past its end."""
import struct
import subprocess
import sys
import wave
from pathlib import Path

failures = []


def check(condition, message):
    if not condition:
        failures.append(message)
        print("FAIL:", message)


def chunks(path):
    blob = path.read_bytes()
    check(blob[:4] == b"RIFF" and blob[8:12] == b"WAVE", "%s: not RIFF/WAVE" % path.name)
    check(struct.unpack_from("<I", blob, 4)[0] == len(blob) - 8, "%s: RIFF size" % path.name)
    found = []
    at = 12
    while at + 8 <= len(blob):
        tag, size = struct.unpack_from("<4sI", blob, at)
        found.append((tag.decode("ascii"), blob[at + 8:at + 8 + size]))
        at += 8 + size + (size & 1)
    check(at == len(blob), "%s: chunks do not end at the end of the file" % path.name)
    check([t for t, _ in found] == ["fmt ", "fact", "data"], "%s: chunk order %s" % (path.name, [t for t, _ in found]))
    return dict(found)


def sox_raw(path, bits=16):
    return subprocess.run(["sox", str(path), "-t", "raw", "-e", "signed-integer", "-b", str(bits), "-"],
                          check=True, capture_output=True).stdout


def check_pcm(path, expected):
    parts = chunks(path)
    fmt = parts["fmt "]
    check(len(fmt) == 16, "%s: PCM fmt chunk of %d bytes" % (path.name, len(fmt)))
    tag, channels, rate, avg, align, bits = struct.unpack("<HHIIHH", fmt)
    check(tag == 1, "%s: format tag %d" % (path.name, tag))
    check(parts["data"] == expected, "%s: data differs from the delivered bytes" % path.name)
    check(struct.unpack("<I", parts["fact"])[0] == len(expected) // align, "%s: fact value" % path.name)
    with wave.open(str(path), "rb") as w:
        check((w.getnchannels(), w.getframerate(), w.getsampwidth()) == (channels, rate, bits // 8),
              "%s: wave module reads another format" % path.name)
        check(w.getnframes() == len(expected) // align, "%s: wave module frame count" % path.name)
        check(w.readframes(w.getnframes()) == expected, "%s: wave module samples differ" % path.name)
    check(sox_raw(path) == expected, "%s: sox samples differ" % path.name)
    print("%s: %d channels, %d Hz, %d frames read back exactly" % (path.name, channels, rate, len(expected) // align))


def check_ima_adpcm(path, expected):
    parts = chunks(path)
    fmt = parts["fmt "]
    check(len(fmt) == 20, "%s: fmt chunk of %d bytes, expected 20" % (path.name, len(fmt)))
    tag, channels, rate, avg, align, bits, extra, per_block = struct.unpack("<HHIIHHHH", fmt)
    check((tag, extra) == (0x11, 2), "%s: tag %#x cbSize %d" % (path.name, tag, extra))
    check(parts["data"] == expected, "%s: data differs from the delivered bytes" % path.name)
    frames = len(expected) // align * per_block
    check(struct.unpack("<I", parts["fact"])[0] == frames, "%s: fact value" % path.name)
    info = subprocess.run(["soxi", "-s", str(path)], check=True, capture_output=True, text=True).stdout.strip()
    check(int(info) == frames, "%s: sox counts %s samples, expected %d" % (path.name, info, frames))
    decoded = sox_raw(path)
    check(len(decoded) == frames * 2, "%s: sox decodes %d bytes" % (path.name, len(decoded)))
    print("%s: IMA ADPCM, %d blocks of %d samples, fact %d" % (path.name, len(expected) // align, per_block, frames))


def check_failure(path):
    parts = chunks(path)
    data = parts["data"]
    check(len(data) > 0, "%s: nothing before the failure" % path.name)
    with wave.open(str(path), "rb") as w:
        check(w.readframes(w.getnframes()) == data, "%s: wave module reads other samples" % path.name)
    check(sox_raw(path) == data, "%s: sox reads other samples" % path.name)
    print("%s: %d data bytes written before the failure" % (path.name, len(data)))


def check_killed(path):
    """No close came: the header is as the writer last brought it up to date while recording."""
    blob = path.read_bytes()
    check(struct.unpack_from("<I", blob, 4)[0] + 8 <= len(blob), "%s: RIFF size past the end" % path.name)
    with wave.open(str(path), "rb") as w:
        seconds = w.getnframes() / w.getframerate()
        check(len(w.readframes(w.getnframes())) == w.getnframes() * w.getnchannels() * w.getsampwidth(),
              "%s: the wave module cannot read all the frames the header counts" % path.name)
    check(seconds >= 1.5, "%s: %.2f s of audio after a kill 3 s into the recording" % (path.name, seconds))
    check(len(sox_raw(path)) > 0, "%s: sox reads nothing" % path.name)
    print("%s: %.2f s readable after the process was killed 3 s into the recording" % (path.name, seconds))


def main(work):
    work = Path(work)
    for name in ("pcm_stereo", "rewritten", "refusals"):
        check_pcm(work / (name + ".wav"), (work / (name + ".expect.raw")).read_bytes())
    check_ima_adpcm(work / "ima_adpcm.wav", (work / "ima_adpcm.expect.raw").read_bytes())
    check_failure(work / "write_failure.wav")
    check_killed(work / "killed.wav")
    check_killed(work / "killed_8bit.wav")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
