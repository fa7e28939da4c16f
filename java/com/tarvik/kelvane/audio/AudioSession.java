package com.tarvik.kelvane.audio;

/**
 * A running recording or playback. Closing it stops it and releases the file; stop and close may be
 * called more than once, from any thread, listeners included.
 */
public abstract class AudioSession implements AutoCloseable {
    final AudioLibrary library;
    private final EndListener endListener;
    private boolean active = true;
    private boolean paused;
    private EndReason endReason;

    AudioSession(AudioLibrary library, EndListener endListener) {
        this.library = library;
        this.endListener = endListener;
    }

    /** True until the session is stopped or has ended. */
    public boolean isActive() {
        synchronized (library) {
            return active;
        }
    }

    /** True while paused. */
    public boolean isPaused() {
        synchronized (library) {
            return paused;
        }
    }

    /** Pauses a running session; does nothing when it is paused already. */
    public void pause() throws AudioException {
        setPaused(true);
    }

    /** Resumes a paused session; does nothing when it runs. */
    public void resume() throws AudioException {
        setPaused(false);
    }

    private void setPaused(boolean wanted) throws AudioException {
        synchronized (library) {
            requireActive();
            if (paused != wanted) {
                paused = library.togglePause();
            }
        }
    }

    /** The position in seconds: the time recorded, or the playback position. */
    public double position() throws AudioException {
        synchronized (library) {
            requireActive();
            return library.currentPosition();
        }
    }

    /** Why the session ended by itself; null while active or when it was stopped. */
    public EndReason endReason() {
        synchronized (library) {
            return endReason;
        }
    }

    /** Stops the session and releases it (the recorded file is complete afterwards). */
    public void stop() throws AudioException {
        synchronized (library) {
            if (active) {
                library.stopSession(this);
                active = false;
                library.notifyAll();
            }
        }
    }

    /** The same as {@link #stop()}. */
    @Override
    public void close() throws AudioException {
        stop();
    }

    void requireActive() {
        if (!active) {
            throw new IllegalStateException("the " + kind() + " has already ended");
        }
    }

    abstract String kind();

    void levelChanged(double level) {
    }

    /** On the event thread: releases the session and tells the listener, once. */
    void ended(EndReason reason) {
        synchronized (library) {
            if (!active) {
                return;
            }
            try {
                stop();
            } catch (AudioException e) {
                // It stays active, so that the owner's close retries and reports the failure.
                return;
            }
            endReason = reason;
        }
        if (endListener != null) {
            endListener.ended(reason);
        }
    }
}
