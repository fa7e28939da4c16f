package com.tarvik.kelvane.audio;

/**
 * Told once when a playback reached its end or a recording lost its device. By then the session has
 * been stopped and released. Runs on the package's event thread and may call any method.
 */
@FunctionalInterface
public interface EndListener {
    /** @param reason why the session ended */
    void ended(EndReason reason);
}
