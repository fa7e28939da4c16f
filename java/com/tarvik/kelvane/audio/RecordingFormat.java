package com.tarvik.kelvane.audio;

import java.nio.file.Path;
import java.util.Arrays;
import java.util.Locale;
import java.util.Objects;
import java.util.OptionalInt;
import java.util.stream.Collectors;
import java.util.stream.IntStream;

/**
 * What a recording writes: MP3 at a constant bit rate or at a variable bit rate of a quality (file extension
 * ".mp3"), or a RIFF WAVE file (extension ".wav") with a wave format tag, from 16-bit capture at the sample
 * rate, mono unless {@link #withChannels(int) two channels} are asked for.
 *
 * <pre>{@code
 * RecordingFormat.mp3(44100, 192000).withChannels(2);   // stereo MP3 (joint stereo) at 192 kbit/s
 * RecordingFormat.mp3Vbr(44100, 2);                     // mono MP3 at a variable bit rate, quality 2
 * RecordingFormat.pcm(48000).withChannels(2);           // stereo 16-bit PCM WAVE, left channel first
 * }</pre>
 *
 * <p>Values the library would change silently or refuse later are refused here, with the accepted values
 * in the message: sample rates are the nine rates of MPEG audio (8000, 11025, 12000, 16000, 22050, 24000,
 * 32000, 44100 and 48000 Hz), which the capture device and the MP3 encoder both take; MP3 bit rates are
 * those of the MPEG Layer III table for the sample rate (32000 to 320000 bit/s from 32000 Hz up, 8000 to
 * 160000 bit/s below).
 *
 * <p>{@link #wave(int, int)} takes the wave format tags of the system's audio compressors. Windows itself
 * carries compressors for 0x0002 (Microsoft ADPCM), 0x0006 (A-law), 0x0007 (µ-law), 0x0011 (IMA ADPCM) and
 * 0x0031 (GSM 6.10); others are there when an application installed them ({@code quillmar devices} lists
 * them). Tag 1 is PCM, which {@link #pcm(int)} gives.
 */
public final class RecordingFormat {
    private static final int[] SAMPLE_RATES = {8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100, 48000};
    private static final int[] MPEG1_KBPS = {32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320};
    private static final int[] MPEG2_KBPS = {8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160};
    private static final int UNUSED_BIT_RATE = 128000;
    /** No VBR quality: a constant bit rate. */
    private static final int CONSTANT = -1;
    /** The highest MP3 bit rate, in bytes per second: a VBR stream's bound. */
    private static final int MP3_MAX_BYTES_PER_SECOND = 320000 / 8;

    /** The wave format tag of MP3 (WAVE_FORMAT_MPEGLAYER3). */
    public static final int MP3_TAG = 85;
    /** The wave format tag of PCM (WAVE_FORMAT_PCM). */
    public static final int PCM_TAG = 1;
    /** MP3 at 128000 bit/s from 44100 Hz: what a ".mp3" file gets when no format is given. */
    public static final RecordingFormat DEFAULT = mp3(44100, 128000);
    /** PCM at 44100 Hz: what a ".wav" file gets when no format is given. */
    public static final RecordingFormat DEFAULT_WAVE = pcm(44100);

    private final int formatTag;
    private final int sampleRate;
    private final int bitRate;
    private final int channels;
    private final int vbrQuality;

    private RecordingFormat(int formatTag, int sampleRate, int bitRate) {
        this(formatTag, sampleRate, bitRate, 1, CONSTANT);
    }

    private RecordingFormat(int formatTag, int sampleRate, int bitRate, int channels, int vbrQuality) {
        if (Arrays.stream(SAMPLE_RATES).noneMatch(rate -> rate == sampleRate)) {
            throw new IllegalArgumentException("sample rate " + sampleRate + " Hz is not supported; use one of "
                    + list(IntStream.of(SAMPLE_RATES)) + " Hz");
        }
        this.formatTag = formatTag;
        this.sampleRate = sampleRate;
        this.bitRate = bitRate;
        this.channels = channels;
        this.vbrQuality = vbrQuality;
    }

    /**
     * MP3 encoded by the library at a constant bit rate.
     *
     * @param sampleRate the sample rate in Hz, one of the rates listed above
     * @param bitRate    bits per second from the Layer III table for that rate, for example 128000
     * @return the format
     * @throws IllegalArgumentException when the rate or the bit rate is not one the library takes
     */
    public static RecordingFormat mp3(int sampleRate, int bitRate) {
        RecordingFormat format = new RecordingFormat(MP3_TAG, sampleRate, bitRate);
        int[] table = sampleRate >= 32000 ? MPEG1_KBPS : MPEG2_KBPS;
        if (bitRate % 1000 != 0 || Arrays.stream(table).noneMatch(kbps -> kbps * 1000 == bitRate)) {
            throw new IllegalArgumentException("MP3 bit rate " + bitRate + " bit/s is not supported at " + sampleRate
                    + " Hz; use one of " + list(IntStream.of(table).map(kbps -> kbps * 1000)) + " bit/s");
        }
        return format;
    }

    /**
     * MP3 encoded by the library at a variable bit rate: each frame gets the bits its sound needs for the
     * quality. A file so recorded carries a tag frame with its length, so that players show its duration
     * and seek in it; a stream carries none.
     *
     * <pre>{@code
     * RecordingFormat speech = RecordingFormat.mp3Vbr(22050, 6);   // small files for speech
     * }</pre>
     *
     * @param sampleRate the sample rate in Hz, one of the rates listed above
     * @param quality    0 (best, largest) to 9 (smallest)
     * @return the format
     * @throws IllegalArgumentException when the rate or the quality is not one the library takes
     */
    public static RecordingFormat mp3Vbr(int sampleRate, int quality) {
        if (quality < 0 || quality > 9) {
            throw new IllegalArgumentException("VBR quality " + quality + " is not supported; use 0 (best) to 9 (smallest)");
        }
        return new RecordingFormat(MP3_TAG, sampleRate, 0, 1, quality);
    }

    /**
     * This format with one or two channels. Two channels are captured as stereo 16-bit (a device that
     * cannot give stereo fails the start) and written as joint-stereo MP3 or as a two-channel WAVE file,
     * left first.
     *
     * <pre>{@code
     * RecordingFormat stereo = RecordingFormat.DEFAULT.withChannels(2);   // MP3 128 kbit/s, 44100 Hz stereo
     * }</pre>
     *
     * @param count 1 (mono) or 2 (stereo)
     * @return the format with that many channels
     * @throws IllegalArgumentException for any other count
     */
    public RecordingFormat withChannels(int count) {
        if (count != 1 && count != 2) {
            throw new IllegalArgumentException("channels must be 1 (mono) or 2 (stereo): " + count);
        }
        return new RecordingFormat(formatTag, sampleRate, bitRate, count, vbrQuality);
    }

    /**
     * A PCM WAVE file, 16-bit mono.
     *
     * @param sampleRate the sample rate in Hz, one of the rates listed above
     * @return the format
     * @throws IllegalArgumentException when the rate is not one the library takes
     */
    public static RecordingFormat pcm(int sampleRate) {
        return new RecordingFormat(PCM_TAG, sampleRate, UNUSED_BIT_RATE);
    }

    /**
     * A WAVE file with the given format tag, written through the system's first audio compressor for it.
     * Whether a compressor exists shows only when the recording starts: without one, it fails with
     * VFW_E_UNSUPPORTED_AUDIO.
     *
     * @param formatTag  a wave format tag from 1 to 0xFFFF other than 85 (MP3), see above
     * @param sampleRate the sample rate in Hz, one of the rates listed above
     * @return the format
     * @throws IllegalArgumentException when the tag or the rate is not one the library takes
     */
    public static RecordingFormat wave(int formatTag, int sampleRate) {
        if (formatTag == MP3_TAG) {
            throw new IllegalArgumentException("format tag 85 is MP3: use mp3(sampleRate, bitRate)");
        }
        if (formatTag < 1 || formatTag > 0xFFFF) {
            throw new IllegalArgumentException("wave format tag must be 1 to 0xFFFF: " + formatTag);
        }
        return new RecordingFormat(formatTag, sampleRate, UNUSED_BIT_RATE);
    }

    /**
     * The default format for a file name: MP3 for ".mp3", PCM WAVE for ".wav" (in any letter case).
     *
     * @param file the file to record into
     * @return {@link #DEFAULT} or {@link #DEFAULT_WAVE}
     * @throws IllegalArgumentException for any other extension
     */
    public static RecordingFormat forFile(Path file) {
        switch (extension(file)) {
            case ".mp3":
                return DEFAULT;
            case ".wav":
                return DEFAULT_WAVE;
            default:
                throw new IllegalArgumentException(unknownExtension(file));
        }
    }

    /**
     * Checks that this format may be written into a file of that name: MP3 into ".mp3", WAVE into ".wav".
     *
     * @param file the file to record into
     * @throws IllegalArgumentException when the extension is unknown or names the other format
     */
    public void checkFile(Path file) {
        String extension = extension(file);
        String wanted = isMp3() ? ".mp3" : ".wav";
        if (!extension.equals(".mp3") && !extension.equals(".wav")) {
            throw new IllegalArgumentException(unknownExtension(file));
        }
        if (!extension.equals(wanted)) {
            throw new IllegalArgumentException("\"" + file + "\" has the extension " + extension + " but the format is "
                    + this + ", which is written as a " + wanted + " file");
        }
    }

    private static String unknownExtension(Path file) {
        return "cannot tell the format of \"" + file + "\" from its extension: use .mp3 for MP3 or .wav for WAVE";
    }

    private static String extension(Path file) {
        Path name = Objects.requireNonNull(file, "file").getFileName();
        String text = name == null ? "" : name.toString();
        int dot = text.lastIndexOf('.');
        return dot < 0 ? "" : text.substring(dot).toLowerCase(Locale.ROOT);
    }

    private static String list(IntStream values) {
        return values.mapToObj(Integer::toString).collect(Collectors.joining(", "));
    }

    /**
     * The wave format tag passed to the library.
     *
     * @return 85 for MP3, else the WAVE file's format tag
     */
    public int formatTag() {
        return formatTag;
    }

    /**
     * The capture sample rate.
     *
     * @return the rate in Hz (16-bit capture)
     */
    public int sampleRate() {
        return sampleRate;
    }

    /**
     * The MP3 bit rate.
     *
     * @return bits per second of a constant-bit-rate MP3; 0 for a variable bit rate; passed to the library
     *         but used for MP3 only
     */
    public int bitRate() {
        return bitRate;
    }

    /**
     * The number of channels.
     *
     * @return 1 (mono) or 2 (stereo)
     */
    public int channels() {
        return channels;
    }

    /**
     * The quality of a variable-bit-rate MP3.
     *
     * @return 0 (best) to 9 (smallest); empty for a constant bit rate and for WAVE
     */
    public OptionalInt vbrQuality() {
        return vbrQuality == CONSTANT ? OptionalInt.empty() : OptionalInt.of(vbrQuality);
    }

    /** The options that the library's recordWithOptions takes, the stream flag as given. */
    int[] options(boolean stream) {
        return new int[] {formatTag, sampleRate, channels, bitRate, vbrQuality, stream ? 1 : 0};
    }

    /** Whether the library's plain record takes this format: mono at a constant bit rate. */
    boolean isPlain() {
        return channels == 1 && vbrQuality == CONSTANT;
    }

    /** The most bytes a second of this format can take in a stream: PCM's rate bounds the compressed ones. */
    int maxBytesPerSecond() {
        return isMp3() ? (vbrQuality == CONSTANT ? bitRate / 8 : MP3_MAX_BYTES_PER_SECOND) : sampleRate * channels * 2;
    }

    /**
     * Whether this is MP3.
     *
     * @return true for MP3, false for a WAVE file
     */
    public boolean isMp3() {
        return formatTag == MP3_TAG;
    }

    @Override
    public boolean equals(Object other) {
        if (!(other instanceof RecordingFormat)) {
            return false;
        }
        RecordingFormat format = (RecordingFormat) other;
        return format.formatTag == formatTag && format.sampleRate == sampleRate && format.bitRate == bitRate
                && format.channels == channels && format.vbrQuality == vbrQuality;
    }

    @Override
    public int hashCode() {
        return Objects.hash(formatTag, sampleRate, bitRate, channels, vbrQuality);
    }

    @Override
    public String toString() {
        String layout = channels == 2 ? " stereo" : " mono";
        return isMp3() ? "MP3 " + (vbrQuality == CONSTANT ? bitRate + " bit/s" : "VBR quality " + vbrQuality) + ", "
                        + sampleRate + " Hz" + layout
                : formatTag == PCM_TAG ? "PCM WAVE, " + sampleRate + " Hz" + layout
                : String.format("WAVE tag 0x%04X, %d Hz%s", formatTag, sampleRate, layout);
    }
}
