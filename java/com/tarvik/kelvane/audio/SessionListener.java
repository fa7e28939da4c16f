package com.tarvik.kelvane.audio;

/**
 * Told of every state change of a session: START, PAUSE, RESUME and STOP. Runs on the package's event
 * thread (see {@link AudioLibrary}) and may call any method of the package.
 */
@FunctionalInterface
public interface SessionListener {
    /**
     * Called once per state change, in the order the changes happened.
     *
     * @param event the change
     */
    void update(SessionEvent event);
}
