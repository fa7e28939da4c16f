#!/usr/bin/env python3
"""Checks the streamed recordings that record_tests left, on the Linux side.

For each name: <name>.stream holds the bytes "StreamData" delivered, <name>.format the "StreamFormat"
bytes, <name>.expect the recording's kind, channels, VBR, whether a file was written, the level count
(one per 40 ms buffer; <name>.report, the device's own report, gives the exact length when present) and, for a reader that stopped, the bytes the stream lost. With a file, the
stream must be the file's bytes (MP3: all of them, a VBR file's tag frame aside, which must carry the
"Xing"/"Info" tag; WAVE: the data chunk, and the format its "fmt " chunk). Without one, the stream is
decoded on its own. Every recording holds the device's tones: 1 kHz, and 1.5 kHz in a stereo
recording's right channel, whole and phase-continuous (check_recordings.py's checks).
"""
import argparse
import os
import struct
import subprocess
import sys
import tempfile

import check_recordings as rec

RIGHT_HZ = 1500.0


def frame_length(header):
    kbps = rec.MPEG1_L3_KBPS[header[2] >> 4]
    rate = [44100, 48000, 32000, 0][(header[2] >> 2) & 3]
    return 144000 * kbps // rate + ((header[2] >> 1) & 1)


def check_channels(name, decoded, seconds, channels, sox, continuity_only):
    """Each channel on its own: the left one's tone, and in stereo the right one's."""
    decoded_channels = int(subprocess.run([sox, "--i", "-c", decoded], check=True, capture_output=True,
                                          text=True).stdout.strip())
    if decoded_channels != channels:
        rec.fail(name, f"decoded with {decoded_channels} channels")
        return
    for channel, tone in [(1, rec.TONE_HZ), (2, RIGHT_HZ)][:channels]:
        with tempfile.TemporaryDirectory() as scratch:
            side = os.path.join(scratch, "side.wav")
            subprocess.run([sox, decoded, side, "remix", str(channel)], check=True)
            info = rec.analyse(side, tone)
            # A stream that lost chunks is checked for continuity within its own length.
            # The device's count may hold one more 40 ms buffer than the file: the one it delivered while
            # the graph was stopping.
            rec.check_tone(f"{name} channel {channel}", info, info["length"] if continuity_only else seconds,
                           60 if continuity_only else 0.045, tone)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--work", required=True)
    parser.add_argument("--mpg123", required=True)
    parser.add_argument("--sox", required=True)
    parser.add_argument("names", nargs="+")
    args = parser.parse_args()
    for name in args.names:
        base = os.path.join(args.work, name)
        if not os.path.exists(base + ".expect"):
            rec.fail(name, "no expectation: the recording test did not finish it")
            continue
        expected = rec.read_expectation(base + ".expect")
        stream = open(base + ".stream", "rb").read()
        fmt = open(base + ".format", "rb").read()
        channels = int(expected["channels"])
        seconds = int(expected["levels"]) * rec.SECONDS_PER_LEVEL
        if os.path.exists(base + ".report"):
            # The frames the device delivered: the level count is not exact when levels were coalesced.
            stops = [line.split() for line in open(base + ".report") if line.startswith("stop ")]
            fields = dict(field.split("=", 1) for field in stops[-1][1:])
            seconds = int(fields["frames"]) / int(fields["rate"])
        lost = int(expected.get("lost_bytes", "0"))
        has_file = expected["file"] == "1"
        tag, fmt_channels, rate = struct.unpack("<HHI", fmt[:8])
        if fmt_channels != channels or rate != 44100:
            rec.fail(name, f"stream format tag {tag:#x}, {fmt_channels} channels, {rate} Hz")
        with tempfile.TemporaryDirectory() as scratch:
            decoded = os.path.join(scratch, "decoded.wav")
            if expected["kind"] == "mp3":
                if tag != 0x55:
                    rec.fail(name, f"stream format tag {tag:#x}")
                target = base + ".mp3"
                if has_file:
                    data = open(target, "rb").read()
                    if expected["vbr"] == "1":
                        first = frame_length(data)
                        if b"Xing" not in data[:first] and b"Info" not in data[:first]:
                            rec.fail(name, "the VBR file's first frame carries no Xing/Info tag")
                        data = data[first:]
                    if data != stream:
                        rec.fail(name, f"stream ({len(stream)} bytes) differs from the file ({len(data)} bytes)")
                else:
                    target = os.path.join(scratch, "stream.mp3")
                    open(target, "wb").write(stream)
                subprocess.run([args.mpg123, "-q", "-w", decoded, target], check=True)
            else:
                target = base + ".wav"
                if has_file:
                    chunks, _ = rec.riff_chunks(target)
                    if chunks[b"fmt "] != fmt:
                        rec.fail(name, "stream format differs from the file's fmt chunk")
                    if lost == 0 and chunks[b"data"] != stream:
                        rec.fail(name, f"stream ({len(stream)} bytes) differs from the data chunk "
                                       f"({len(chunks[b'data'])} bytes)")
                    if lost and len(chunks[b"data"]) != len(stream) + lost:
                        rec.fail(name, f"data chunk {len(chunks[b'data'])} bytes, stream {len(stream)} + lost {lost}")
                    print(f"{name}: stream {len(stream)} bytes, lost {lost}, file {len(chunks[b'data'])}")
                else:
                    target = os.path.join(scratch, "stream.wav")
                    header = (b"RIFF" + struct.pack("<I", 4 + 8 + len(fmt) + 8 + len(stream)) + b"WAVE" +
                              b"fmt " + struct.pack("<I", len(fmt)) + fmt + b"data" + struct.pack("<I", len(stream)))
                    open(target, "wb").write(header + stream)
                subprocess.run([args.sox, target, "-b", "16", "-e", "signed-integer", decoded], check=True)
            check_channels(name, decoded, seconds, channels, args.sox, lost > 0)
    for failure in rec.failures:
        print("FAILED " + failure)
    return 1 if rec.failures else 0


if __name__ == "__main__":
    sys.exit(main())
