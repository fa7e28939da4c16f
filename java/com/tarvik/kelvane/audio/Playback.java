package com.tarvik.kelvane.audio;

import java.time.Duration;

/** A playback of a file or URL. It releases itself when it reaches the end. */
public final class Playback extends AudioSession {
    private final String source;

    Playback(AudioLibrary library, String source, EndListener end) {
        super(library, end);
        this.source = source;
    }

    /** The file path or URL being played. */
    public String source() {
        return source;
    }

    /** The length of the stream in seconds. */
    public double duration() throws AudioException {
        synchronized (library) {
            requireActive();
            return library.duration();
        }
    }

    /**
     * Waits until the playback has ended or was stopped.
     *
     * @return false when the timeout passed first
     */
    public boolean awaitEnd(Duration timeout) throws InterruptedException {
        long deadline = System.nanoTime() + timeout.toNanos();
        synchronized (library) {
            while (isActive()) {
                long left = deadline - System.nanoTime();
                if (left <= 0) {
                    return false;
                }
                library.wait(Math.max(1, left / 1_000_000));
            }
            return true;
        }
    }

    @Override
    String kind() {
        return "playback";
    }
}
