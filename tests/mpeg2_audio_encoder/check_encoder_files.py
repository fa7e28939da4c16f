#!/usr/bin/env python3
"""Checks the MP3 files written by mpeg2_audio_encoder_tests with tools independent of the encoder.

For every file listed in encoder_files.txt:
  * an own Layer III frame parser walks the file (behind any ID3v2 tag): the frames must follow each
    other without a gap up to the last byte, at the expected sample rate and channel mode, and at the
    set bit rate in constant bit-rate streams;
  * files listed as "tagged" must start with the rewritten tag frame, and no other file may: the
    Xing/Info header counts the audio frames, and the LAME header's encoder delay and padding leave
    exactly the input plus the 48 samples of start-up silence;
  * a file written frame by frame is byte for byte its companion stream without the first frame;
  * mpg123 decodes the file: to exactly that many samples for files with the tag frame (gapless
    decoding), else to every frame, which must hold all input (behind the codec delay the input ends
    within the last two frames); each channel's tone frequency, counted by zero crossings, is within
    1 % of the input's, and its phase runs on without a jump (a lost or doubled stretch of audio
    shows as a step in the phase of the tone).
"""
import math
import os
import struct
import subprocess
import sys
import tempfile
import wave

PRIME = 48                # silent sample frames the encoder puts at the start
CODEC_DELAY = 576 + 529   # LAME's encoder delay plus the decoder delay

BITRATES_MPEG1 = [0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0]
BITRATES_MPEG2 = [0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0]
RATES = {3: [44100, 48000, 32000], 2: [22050, 24000, 16000], 0: [11025, 12000, 8000]}


def parse_header(b):
    """(length, rate, kbps, mono, mpeg1) of a Layer III header, or None."""
    if len(b) < 4 or b[0] != 0xFF or (b[1] & 0xE0) != 0xE0:
        return None
    version = (b[1] >> 3) & 3
    layer = (b[1] >> 1) & 3
    bitrate_index = b[2] >> 4
    rate_index = (b[2] >> 2) & 3
    if version == 1 or layer != 1 or bitrate_index in (0, 15) or rate_index == 3 or (b[3] & 3) == 2:
        return None
    mpeg1 = version == 3
    kbps = (BITRATES_MPEG1 if mpeg1 else BITRATES_MPEG2)[bitrate_index]
    rate = RATES[version][rate_index]
    samples = 1152 if mpeg1 else 576
    length = samples * kbps * 1000 // (rate * 8) + ((b[2] >> 1) & 1)
    return length, rate, kbps, (b[3] >> 6) == 3, mpeg1


def id3_length(data):
    if data[:3] != b"ID3":
        return 0
    size = 0
    for byte in data[6:10]:
        size = size << 7 | (byte & 0x7F)
    return size + 10


def frames_of(data, start):
    frames = []
    position = start
    while position < len(data):
        header = parse_header(data[position:position + 4])
        if header is None:
            raise AssertionError("no frame header at byte %d" % position)
        if position + header[0] > len(data):
            raise AssertionError("frame at byte %d runs past the end" % position)
        frames.append((position, header))
        position += header[0]
    return frames


def tag_samples(data, position, header):
    """Samples that the Xing/Info and LAME headers of the tag frame describe, and the frame count."""
    length, rate, kbps, mono, mpeg1 = header
    side_info = (17 if mono else 32) if mpeg1 else (9 if mono else 17)
    at = position + 4 + side_info
    name = data[at:at + 4]
    if name not in (b"Xing", b"Info"):
        raise AssertionError("no Xing/Info header in the first frame")
    flags = struct.unpack(">I", data[at + 4:at + 8])[0]
    at += 8
    frame_count = None
    if flags & 1:
        frame_count = struct.unpack(">I", data[at:at + 4])[0]
        at += 4
    if flags & 2:
        at += 4
    if flags & 4:
        at += 100
    if flags & 8:
        at += 4
    if data[at:at + 4] != b"LAME":
        raise AssertionError("no LAME header behind the Xing/Info header")
    delay_padding = data[at + 21:at + 24]
    delay = delay_padding[0] << 4 | delay_padding[1] >> 4
    padding = (delay_padding[1] & 0x0F) << 8 | delay_padding[2]
    return name, frame_count, delay, padding


def decode(path):
    with tempfile.TemporaryDirectory() as scratch:
        out = os.path.join(scratch, "out.wav")
        subprocess.run(["mpg123", "-q", "-w", out, path], check=True)
        with wave.open(out) as w:
            channels = w.getnchannels()
            frames = w.getnframes()
            rate = w.getframerate()
            samples = struct.unpack("<%dh" % (frames * channels), w.readframes(frames))
    return rate, channels, frames, samples


def tone_frequency(samples, channels, channel, rate, first, last):
    values = samples[first * channels + channel:last * channels:channels]
    crossings = sum(1 for a, b in zip(values, values[1:]) if (a < 0) != (b < 0))
    return crossings / 2.0 / ((last - first) / rate)


def largest_phase_step(samples, channels, channel, rate, hz, first, last):
    """Largest change, in degrees, of the tone's phase from one window of the decoded signal to the
    next; a continuous tone keeps its phase against the sample index."""
    window = 2048
    step = 2.0 * math.pi * hz / rate
    phases = []
    for start in range(first, last - window, window):
        i = q = 0.0
        for k in range(start, start + window):
            value = samples[k * channels + channel]
            i += value * math.sin(step * k)
            q += value * math.cos(step * k)
        phases.append(math.atan2(q, i))
    largest = 0.0
    for a, b in zip(phases, phases[1:]):
        change = abs((b - a + math.pi) % (2.0 * math.pi) - math.pi)
        largest = max(largest, math.degrees(change))
    return largest


def has_tag(data, position, header):
    try:
        tag_samples(data, position, header)
        return True
    except AssertionError:
        return False


def check(work, line):
    name, rate, channels, kbps, kind, left_hz, right_hz, input_frames, id3, layout = line.split()
    rate, channels, kbps, input_frames, id3 = int(rate), int(channels), int(kbps), int(input_frames), int(id3)
    path = os.path.join(work, name)
    data = open(path, "rb").read()

    start = id3_length(data)
    if start != id3:
        raise AssertionError("ID3v2 tag of %d bytes, expected %d" % (start, id3))
    frames = frames_of(data, start)
    for position, (length, frame_rate, frame_kbps, mono, mpeg1) in frames:
        if frame_rate != rate:
            raise AssertionError("frame at %d: %d Hz" % (position, frame_rate))
        if mono != (channels == 1):
            raise AssertionError("frame at %d: wrong channel mode" % position)
        if kind == "cbr" and frame_kbps != kbps:
            raise AssertionError("frame at %d: %d kbit/s instead of %d" % (position, frame_kbps, kbps))
    samples_per_frame = 1152 if frames[0][1][4] else 576

    decoded_rate, decoded_channels, decoded, samples = decode(path)
    if decoded_rate != rate or decoded_channels != channels:
        raise AssertionError("decoded as %d Hz, %d channels" % (decoded_rate, decoded_channels))
    expected = input_frames + PRIME
    # A file listed as tagged must carry the tag; every other file must not.
    if layout == "tagged" and not has_tag(data, *frames[0]):
        raise AssertionError("listed as tagged, but its first frame holds no Xing/Info and LAME header")
    if layout != "tagged" and has_tag(data, *frames[0]):
        raise AssertionError("listed as %s, but its first frame is a tag frame" % layout)
    if layout == "tagged":
        # Gapless: exactly the input and the start-up silence.
        tag_name, frame_count, delay, padding = tag_samples(data, *frames[0])
        audio_frames = len(frames) - 1
        if tag_name != (b"Info" if kind == "cbr" else b"Xing"):
            raise AssertionError("tag named %r" % tag_name)
        if frame_count != audio_frames:
            raise AssertionError("tag counts %s audio frames, the file has %d" % (frame_count, audio_frames))
        if delay != 576:
            raise AssertionError("encoder delay %d" % delay)
        if audio_frames * samples_per_frame - delay - padding != expected:
            raise AssertionError("tag describes %d samples, expected %d"
                                 % (audio_frames * samples_per_frame - delay - padding, expected))
        if decoded != expected:
            raise AssertionError("mpg123 decoded %d sample frames, expected exactly %d" % (decoded, expected))
        signal_start = PRIME
        note = "gapless"
    else:
        # Every frame decoded: the input, behind the codec delay, must end within the last frames.
        # A frame-by-frame file is its companion stream without that stream's first frame (the tag
        # frame, or, where LAME left the tag out because it does not fit a frame of this bit rate, the
        # first frame of start-up silence).
        signal_start = PRIME + CODEC_DELAY
        note = "no tag frame"
        if layout == "frames":
            companion = open(os.path.join(work, name.replace(".frames.mp3", ".mp3")), "rb").read()
            companion_frames = frames_of(companion, 0)
            if data != companion[companion_frames[0][1][0]:]:
                raise AssertionError("not the companion stream without its first frame")
            if not has_tag(companion, *companion_frames[0]):
                signal_start -= samples_per_frame
            note = "companion stream without its first frame"
        if decoded != len(frames) * samples_per_frame:
            raise AssertionError("mpg123 decoded %d sample frames of %d frames" % (decoded, len(frames)))
        end_of_input = signal_start + input_frames
        if not 0 <= decoded - end_of_input < 2 * samples_per_frame:
            raise AssertionError("decoded %d sample frames; the input ends at %d" % (decoded, end_of_input))
    first = signal_start + rate // 4
    last = signal_start + input_frames - rate // 4
    for channel, hz in enumerate([float(left_hz), float(right_hz)][:channels]):
        measured = tone_frequency(samples, channels, channel, rate, first, last)
        if abs(measured - hz) > hz * 0.01:
            raise AssertionError("channel %d: %.1f Hz instead of %.1f Hz" % (channel, measured, hz))
        jump = largest_phase_step(samples, channels, channel, rate, hz, first, last)
        if jump > 20.0:
            raise AssertionError("channel %d: the tone's phase jumps by %.0f degrees" % (channel, jump))
    return "%d frames, %d sample frames decoded (%s)" % (len(frames), decoded, note)


def main():
    work = sys.argv[1]
    failures = 0
    lines = [l for l in open(os.path.join(work, "encoder_files.txt")) if l.strip()]
    if not lines:
        print("no files listed")
        return 1
    for line in lines:
        name = line.split()[0]
        try:
            print("ok   %s: %s" % (name, check(work, line)))
        except (AssertionError, subprocess.CalledProcessError, OSError, wave.Error) as error:
            failures += 1
            print("FAIL %s: %s" % (name, error))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
