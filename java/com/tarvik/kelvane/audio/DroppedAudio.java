package com.tarvik.kelvane.audio;

import java.time.Duration;
import java.util.Objects;

/**
 * The audio a recording lost: the gaps the capture device left when its thread fell behind (the device
 * then drops its oldest audio, and the file holds a splice where it was), and the audio time they miss.
 * A device that time-stamps nothing still marks its gaps, but their length is not known.
 */
public final class DroppedAudio {
    /** Nothing lost. */
    public static final DroppedAudio NONE = new DroppedAudio(0, Duration.ZERO, true);

    private final long gaps;
    private final Duration missing;
    private final boolean lengthKnown;

    /**
     * Makes the figure.
     *
     * @param gaps        the number of gaps, 0 or more
     * @param missing     the audio time they miss; zero when the length is not known
     * @param lengthKnown whether the device's time stamps tell the length
     */
    public DroppedAudio(long gaps, Duration missing, boolean lengthKnown) {
        if (gaps < 0) {
            throw new IllegalArgumentException("gaps must not be negative: " + gaps);
        }
        if (Objects.requireNonNull(missing, "missing").isNegative()) {
            throw new IllegalArgumentException("missing must not be negative: " + missing);
        }
        this.gaps = gaps;
        this.missing = missing;
        this.lengthKnown = lengthKnown;
    }

    /**
     * The figure from what the library's getDroppedAudio answered: S_FALSE means no time stamps.
     */
    static DroppedAudio of(int result, double[] dropped) {
        long gaps = Math.max(0L, Math.round(dropped[0]));
        long nanos = Math.max(0L, Math.round(dropped[1] * 1e9));
        return new DroppedAudio(gaps, Duration.ofNanos(nanos), result != ResultCodes.S_FALSE);
    }

    /**
     * The number of gaps.
     *
     * @return 0 when no audio was lost
     */
    public long gaps() {
        return gaps;
    }

    /**
     * The audio time the gaps miss.
     *
     * @return the time; zero when nothing was lost or the length is not known
     */
    public Duration missing() {
        return missing;
    }

    /**
     * Whether {@link #missing()} tells the length of the gaps: false when the device set no time stamps.
     *
     * @return true when the length is known
     */
    public boolean isLengthKnown() {
        return lengthKnown;
    }

    /**
     * Whether any audio was lost.
     *
     * @return true when there was at least one gap
     */
    public boolean anyLost() {
        return gaps > 0;
    }

    @Override
    public boolean equals(Object other) {
        if (!(other instanceof DroppedAudio)) {
            return false;
        }
        DroppedAudio that = (DroppedAudio) other;
        return gaps == that.gaps && lengthKnown == that.lengthKnown && missing.equals(that.missing);
    }

    @Override
    public int hashCode() {
        return (Long.hashCode(gaps) * 31 + missing.hashCode()) * 31 + Boolean.hashCode(lengthKnown);
    }

    /**
     * Says it as the command-line tool does: "no audio lost", "lost 120 ms in 3 gaps", or "lost audio in 1
     * gap (length unknown)".
     */
    @Override
    public String toString() {
        if (gaps == 0) {
            return "no audio lost";
        }
        String in = "in " + gaps + (gaps == 1 ? " gap" : " gaps");
        if (!lengthKnown) {
            return "lost audio " + in + " (length unknown)";
        }
        return "lost " + Math.round(missing.toNanos() / 1e6) + " ms " + in;
    }
}
