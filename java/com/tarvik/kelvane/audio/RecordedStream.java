package com.tarvik.kelvane.audio;

import java.io.IOException;
import java.io.InputStream;
import java.io.InterruptedIOException;
import java.time.Duration;
import java.util.ArrayDeque;
import java.util.concurrent.ExecutionException;

/**
 * The bytes of one streamed recording between the library's delivery thread and the application: a
 * bounded buffer of whole chunks. The library's thread only adds (never waits); a chunk that would take the
 * buffer past its budget is dropped whole and counted, so memory stays flat when nobody reads.
 */
final class RecordedStream {
    /** How much audio the buffer holds at the format's highest byte rate. */
    static final int BUFFER_SECONDS = 16;

    private final Recording recording;
    private final long budget;
    private final ArrayDeque<byte[]> chunks = new ArrayDeque<>();
    private long buffered;
    private byte[] format;
    /** No chunk follows: the library ended the stream, the start failed, or the library was closed. */
    private boolean ended;
    /** The application closed its reader: nothing is kept any more. */
    private boolean closed;
    private long lostChunks;
    private long lostBytes;
    private double lostSeconds;

    RecordedStream(Recording recording, long budget) {
        this.recording = recording;
        this.budget = budget;
    }

    // ---- from the library's delivery thread ---------------------------------------------------------------
    synchronized void format(byte[] waveFormat) {
        format = waveFormat;
        notifyAll();
    }

    /** Keeps the chunk; false when it was dropped (the buffer is full) or the stream is over. */
    synchronized boolean offer(byte[] chunk) {
        if (ended || closed) {
            return false;
        }
        if (!chunks.isEmpty() && buffered + chunk.length > budget) {
            lostChunks++;
            lostBytes += chunk.length;
            lostSeconds += seconds(chunk);
            return false;
        }
        chunks.add(chunk);
        buffered += chunk.length;
        notifyAll();
        return true;
    }

    synchronized void end() {
        ended = true;
        notifyAll();
    }

    // ---- for the consumers --------------------------------------------------------------------------------
    /** The next chunk, or null when none waits. */
    synchronized byte[] poll() {
        byte[] chunk = chunks.poll();
        if (chunk != null) {
            buffered -= chunk.length;
        }
        return chunk;
    }

    /** True once the last chunk was taken. */
    synchronized boolean drained() {
        return ended && chunks.isEmpty();
    }

    /** The next chunk, waiting for it; null after the last. */
    synchronized byte[] take() throws InterruptedIOException {
        while (chunks.isEmpty() && !ended && !closed) {
            waitInterruptibly();
        }
        return poll();
    }

    /** The WAVEFORMATEX the library told, waiting for it; null when the stream ended without one. */
    synchronized byte[] awaitFormat() throws InterruptedIOException {
        while (format == null && !ended && !closed) {
            waitInterruptibly();
        }
        return format;
    }

    synchronized StreamLoss loss() {
        return new StreamLoss(lostChunks, lostBytes, Duration.ofNanos(Math.round(lostSeconds * 1e9)));
    }

    synchronized int available() {
        return (int) Math.min(Integer.MAX_VALUE, buffered);
    }

    synchronized void close() {
        closed = true;
        chunks.clear();
        buffered = 0;
        notifyAll();
    }

    synchronized boolean isClosed() {
        return closed;
    }

    private void waitInterruptibly() throws InterruptedIOException {
        try {
            wait();
        } catch (InterruptedException e) {
            Thread.currentThread().interrupt();
            throw new InterruptedIOException("interrupted while waiting for the recording's stream");
        }
    }

    /** At the end of the bytes: -1, or the recording's failure once it has ended. */
    int endOfStream() throws IOException {
        try {
            recording.ended().get();
            return -1;
        } catch (ExecutionException e) {
            throw new IOException("the recording failed: " + e.getCause().getMessage(), e.getCause());
        } catch (InterruptedException e) {
            Thread.currentThread().interrupt();
            throw new InterruptedIOException("interrupted while waiting for the recording's end");
        }
    }

    /** The audio time of a chunk: by the format's byte rate, or by its MP3 frames when that is variable. */
    private double seconds(byte[] chunk) {
        long perSecond = format == null || format.length < 12 ? 0
                : (format[8] & 0xFFL) | (format[9] & 0xFFL) << 8 | (format[10] & 0xFFL) << 16 | (format[11] & 0xFFL) << 24;
        return perSecond > 0 ? chunk.length / (double) perSecond : mp3Seconds(chunk);
    }

    private static final int[] MPEG1_KBPS = {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320};
    private static final int[] MPEG2_KBPS = {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160};
    private static final int[] MPEG1_RATES = {44100, 48000, 32000};

    /** The audio time of the Layer III frames that start in the bytes, walked from header to header. */
    static double mp3Seconds(byte[] bytes) {
        double seconds = 0;
        int at = 0;
        while (at + 4 <= bytes.length) {
            int b1 = bytes[at + 1] & 0xFF;
            int b2 = bytes[at + 2] & 0xFF;
            int version = (b1 >> 3) & 3; // 3 MPEG-1, 2 MPEG-2, 0 MPEG-2.5
            int bitRateIndex = b2 >> 4;
            int rateIndex = (b2 >> 2) & 3;
            if ((bytes[at] & 0xFF) != 0xFF || (b1 & 0xE0) != 0xE0 || version == 1 || ((b1 >> 1) & 3) != 1
                    || bitRateIndex == 0 || bitRateIndex == 15 || rateIndex == 3) {
                at++;
                continue;
            }
            boolean mpeg1 = version == 3;
            int rate = MPEG1_RATES[rateIndex] >> (mpeg1 ? 0 : version == 2 ? 1 : 2);
            int bitRate = (mpeg1 ? MPEG1_KBPS : MPEG2_KBPS)[bitRateIndex] * 1000;
            int samples = mpeg1 ? 1152 : 576;
            seconds += samples / (double) rate;
            at += samples / 8 * bitRate / rate + ((b2 >> 1) & 1);
        }
        return seconds;
    }

    /** The application's reader of the bytes: blocking, -1 after the last, the failure as an IOException. */
    final class Reader extends InputStream {
        private byte[] current;
        private int offset;

        @Override
        public int read() throws IOException {
            byte[] one = new byte[1];
            int count = read(one, 0, 1);
            return count < 0 ? -1 : one[0] & 0xFF;
        }

        @Override
        public int read(byte[] target, int off, int len) throws IOException {
            if (off < 0 || len < 0 || len > target.length - off) {
                throw new IndexOutOfBoundsException("offset " + off + ", length " + len + ", array " + target.length);
            }
            if (isClosed()) {
                throw new IOException("stream closed");
            }
            if (len == 0) {
                return 0;
            }
            if (current == null || offset == current.length) {
                current = take();
                offset = 0;
                if (current == null) {
                    if (isClosed()) {
                        throw new IOException("stream closed");
                    }
                    return endOfStream();
                }
            }
            int count = Math.min(len, current.length - offset);
            System.arraycopy(current, offset, target, off, count);
            offset += count;
            return count;
        }

        @Override
        public int available() {
            return (current == null ? 0 : current.length - offset) + RecordedStream.this.available();
        }

        /** Stops keeping the recording's bytes; a read blocked in another thread ends with an IOException. */
        @Override
        public void close() {
            RecordedStream.this.close();
        }
    }
}
