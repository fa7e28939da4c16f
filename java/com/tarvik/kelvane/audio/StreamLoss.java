package com.tarvik.kelvane.audio;

import java.time.Duration;
import java.util.Objects;

/**
 * What a recording's stream lost because it was not taken in time: whole chunks, dropped by the library
 * (past 10 s of undelivered stream) or by this package (past its own buffer). The file, if any, loses
 * nothing of it.
 */
public final class StreamLoss {
    /** Nothing lost. */
    public static final StreamLoss NONE = new StreamLoss(0, 0, Duration.ZERO);

    private final long chunks;
    private final long bytes;
    private final Duration missing;

    /**
     * Makes the figure.
     *
     * @param chunks  the chunks dropped
     * @param bytes   the bytes they held
     * @param missing the audio time they held
     * @throws IllegalArgumentException when a figure is negative
     */
    public StreamLoss(long chunks, long bytes, Duration missing) {
        if (chunks < 0 || bytes < 0 || Objects.requireNonNull(missing, "missing").isNegative()) {
            throw new IllegalArgumentException("stream loss must not be negative: " + chunks + ", " + bytes + ", " + missing);
        }
        this.chunks = chunks;
        this.bytes = bytes;
        this.missing = missing;
    }

    /** The library's figure: chunks, bytes, seconds. */
    static StreamLoss of(double[] loss) {
        return new StreamLoss(Math.max(0L, Math.round(loss[0])), Math.max(0L, Math.round(loss[1])),
                Duration.ofNanos(Math.max(0L, Math.round(loss[2] * 1e9))));
    }

    StreamLoss plus(StreamLoss other) {
        return new StreamLoss(chunks + other.chunks, bytes + other.bytes, missing.plus(other.missing));
    }

    /**
     * The chunks dropped.
     *
     * @return the count
     */
    public long chunks() {
        return chunks;
    }

    /**
     * The bytes dropped.
     *
     * @return the count
     */
    public long bytes() {
        return bytes;
    }

    /**
     * The audio time dropped (for a variable-bit-rate MP3 counted from its frame headers).
     *
     * @return the time
     */
    public Duration missing() {
        return missing;
    }

    /**
     * Whether anything was dropped.
     *
     * @return true when at least one chunk was
     */
    public boolean anyLost() {
        return chunks > 0;
    }

    @Override
    public boolean equals(Object other) {
        if (!(other instanceof StreamLoss)) {
            return false;
        }
        StreamLoss that = (StreamLoss) other;
        return chunks == that.chunks && bytes == that.bytes && missing.equals(that.missing);
    }

    @Override
    public int hashCode() {
        return Objects.hash(chunks, bytes, missing);
    }

    /**
     * The figure as the tool says it.
     *
     * @return "stream complete", or for example "stream lost 2400 ms in 16 chunks (38400 bytes)"
     */
    @Override
    public String toString() {
        if (chunks == 0) {
            return "stream complete";
        }
        return "stream lost " + Math.round(missing.toNanos() / 1e6) + " ms in " + chunks + (chunks == 1 ? " chunk" : " chunks")
                + " (" + bytes + " bytes)";
    }
}
