package com.tarvik.kelvane.audio;

import java.util.Objects;

/** A change of a session's state, as {@code javax.sound.sampled.LineEvent} reports the state of a line. */
public final class SessionEvent {
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

    private final AudioSession session;
    private final Type type;

    /**
     * Makes the event.
     *
     * @param session the session whose state changed
     * @param type    what happened
     */
    public SessionEvent(AudioSession session, Type type) {
        this.session = Objects.requireNonNull(session, "session");
        this.type = Objects.requireNonNull(type, "type");
    }

    /**
     * The session whose state changed.
     *
     * @return the session
     */
    public AudioSession session() {
        return session;
    }

    /**
     * What happened.
     *
     * @return the type of the change
     */
    public Type type() {
        return type;
    }

    @Override
    public boolean equals(Object other) {
        if (!(other instanceof SessionEvent)) {
            return false;
        }
        SessionEvent event = (SessionEvent) other;
        return event.session == session && event.type == type;
    }

    @Override
    public int hashCode() {
        return 31 * System.identityHashCode(session) + type.hashCode();
    }

    @Override
    public String toString() {
        return "SessionEvent[session=" + session + ", type=" + type + "]";
    }
}
