package com.tarvik.kelvane.audio;

import java.util.Objects;

/**
 * What a recording writes: MP3 at a bit rate, or a RIFF WAVE file with a wave format tag (PCM or what a
 * system audio compressor produces), always from mono 16-bit capture at the sample rate.
 */
public final class RecordingFormat {
    /** The wave format tag of MP3 (WAVE_FORMAT_MPEGLAYER3). */
    public static final int MP3_TAG = 85;
    /** The wave format tag of PCM. */
    public static final int PCM_TAG = 1;
    /** MP3 at 128 kbit/s from 44100 Hz. */
    public static final RecordingFormat DEFAULT = mp3(44100, 128000);

    private final int formatTag;
    private final int sampleRate;
    private final int bitRate;

    private RecordingFormat(int formatTag, int sampleRate, int bitRate) {
        if (formatTag < 0 || formatTag > 0xFFFF) {
            throw new IllegalArgumentException("format tag must be 0 to 0xFFFF: " + formatTag);
        }
        if (sampleRate < 1 || sampleRate > 384000) {
            throw new IllegalArgumentException("sample rate must be 1 to 384000 Hz: " + sampleRate);
        }
        if (bitRate < 1 || bitRate > 320000) {
            throw new IllegalArgumentException("bit rate must be 1 to 320000 bit/s: " + bitRate);
        }
        this.formatTag = formatTag;
        this.sampleRate = sampleRate;
        this.bitRate = bitRate;
    }

    /** MP3 encoded by the library at a constant bit rate (bits per second, e.g. 128000). */
    public static RecordingFormat mp3(int sampleRate, int bitRate) {
        return new RecordingFormat(MP3_TAG, sampleRate, bitRate);
    }

    /** A PCM WAVE file. */
    public static RecordingFormat pcm(int sampleRate) {
        return new RecordingFormat(PCM_TAG, sampleRate, 128000);
    }

    /** A WAVE file with the given format tag, written through the system's first compressor for it. */
    public static RecordingFormat wave(int formatTag, int sampleRate) {
        if (formatTag == MP3_TAG) {
            throw new IllegalArgumentException("format tag 85 is MP3: use mp3(sampleRate, bitRate)");
        }
        return new RecordingFormat(formatTag, sampleRate, 128000);
    }

    /** The wave format tag passed to the library. */
    public int formatTag() {
        return formatTag;
    }

    /** Hz, mono 16-bit capture. */
    public int sampleRate() {
        return sampleRate;
    }

    /** Bits per second; used for MP3 only. */
    public int bitRate() {
        return bitRate;
    }

    /** True for MP3. */
    public boolean isMp3() {
        return formatTag == MP3_TAG;
    }

    @Override
    public boolean equals(Object other) {
        return other instanceof RecordingFormat && ((RecordingFormat) other).formatTag == formatTag
                && ((RecordingFormat) other).sampleRate == sampleRate && ((RecordingFormat) other).bitRate == bitRate;
    }

    @Override
    public int hashCode() {
        return Objects.hash(formatTag, sampleRate, bitRate);
    }

    @Override
    public String toString() {
        return isMp3() ? "MP3 " + bitRate + " bit/s, " + sampleRate + " Hz mono"
                : String.format("WAVE tag 0x%04X, %d Hz mono", formatTag, sampleRate);
    }
}
