package com.tarvik.kelvane.audio;

import java.util.Objects;

/**
 * A change of a session's state, as {@code javax.sound.sampled.LineEvent} reports the state of a line.
 *
 * @param session the session whose state changed
 * @param type    what happened
 */
public record SessionEvent(AudioSession session, Type type) {
    /** The kinds of state change. */
    public enum Type {
        /** The session started: the library records or plays. */
        START,
        /** The session ended: by the application's stop or close, at the end of the stream, or when its device was lost. */
        STOP,
        /** The session was paused. */
        PAUSE,
        /** The paused session runs again. */
        RESUME
    }

    /**
     * Checks that both parts are given.
     *
     * @param session the session whose state changed
     * @param type    what happened
     */
    public SessionEvent {
        Objects.requireNonNull(session, "session");
        Objects.requireNonNull(type, "type");
    }
}
